// What a flat package would install: its components' payloads in every compression that
// pkgbuild writes, their scripts, and the bounds that stop a hostile one.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "fixtures/machowriter.h"
#include "fixtures/pkgwriter.h"
#include "overview/datafile.h"
#include "package/packagesignature.h"
#include "package/payload.h"

using namespace varko;
using namespace varko::examplegen;
using package::PayloadBudget;
using varko::testing::expectDataFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::byte> bytes(const std::string& text) {
    const auto* p = reinterpret_cast<const std::byte*>(text.data());
    return {p, p + text.size()};
}

/// The listing as text: each component with a line per entry (path, type, mode, owner, size,
/// link, flags), per script and per problem; then the apps written out.
std::string shown(const package::PackageContents& contents) {
    std::string out;
    const auto line = [&out](const std::string& text) {
        std::string escaped = text;
        for (std::size_t at = 0; (at = escaped.find('\n', at)) != std::string::npos; at += 2)
            escaped.replace(at, 1, "\\n");
        out += escaped + "\n";
    };
    for (const package::ComponentPackage& c : contents.components) {
        line("component " + c.name + " " + c.identifier + " " + c.version);
        for (const package::PayloadFile& f : c.files) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", f.mode);
            line("  " + f.path + " " + package::entryTypeName(f.type) + " " + mode + " " +
                 std::to_string(f.uid) + ":" + std::to_string(f.gid) + " " +
                 std::to_string(f.size) + (f.linkTarget.empty() ? "" : " -> " + f.linkTarget) +
                 (f.setuid() ? " setuid" : "") + (f.setgid() ? " setgid" : "") +
                 (f.worldWritable() ? " world-writable" : ""));
        }
        for (const package::PackageScript& s : c.scripts)
            line("  script " + s.name + (s.executable ? " (executable): " : ": ") + s.text);
        for (const Error& e : c.problems)
            line("  problem " + std::string(errorCodeName(e.code)) + ": " + e.message);
    }
    for (const package::ExtractedApp& app : contents.apps)
        line("app " + app.installedPath + " " + package::codeKindName(app.kind));
    return out;
}

/// Every path under `root`, relative, with its kind: "d 0700", "f 0755", "l -> target".
std::string tree(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path relative = it->path().lexically_relative(root);
        const fs::file_status status = it->symlink_status();
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(status.permissions()) & 07777u);
        if (fs::is_symlink(status))
            out.push_back(relative.string() + " l -> " + fs::read_symlink(it->path()).string());
        else
            out.push_back(relative.string() + (fs::is_directory(status) ? " d " : " f ") + mode);
    }
    std::sort(out.begin(), out.end());
    std::string text;
    for (const std::string& path : out) text += path + "\n";
    return text;
}

class PayloadTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const std::string path = dir.filePath("Test.pkg").toStdString();

    /// Writes `members` as a flat package at `path`.
    std::string write(const std::vector<PackageMember>& members) {
        EXPECT_TRUE(writeFile(path, makeFlatPackage(members)));
        return path;
    }
    Expected<package::PackageContents> read(const std::vector<PackageMember>& members,
                                            const PayloadBudget& budget = {}) {
        return package::readPackageContents(write(members), budget);
    }
};

TEST_F(PayloadTest, AProductArchiveListsEachComponentsFilesWhereTheyInstallAndItsScripts) {
    const auto app = makeCpio(
        {folderEntry("."), folderEntry("./Applications"), folderEntry("./Applications/Foo.app"),
         fileEntry("./Applications/Foo.app/Contents/MacOS/tool", "#!/bin/sh\n", 04755),
         linkEntry("./Applications/Foo.app/Contents/Current", "MacOS"),
         folderEntry("./Applications/Shared", 0777), folderEntry("./Applications/Drop", 01777)},
        Compression::gzip);
    // Big enough for several chunks, one of them stored because random bytes don't shrink.
    std::string noise(300000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
    const auto helper = makeCpio({folderEntry("."), fileEntry("./helper.dylib", noise, 02755),
                                  fileEntry("./readme.txt", std::string(200000, 'a'), 0666)},
                                 Compression::pbzx, 128 * 1024);
    const auto scripts =
        makeCpio({folderEntry("."), fileEntry("./preinstall", "#!/bin/sh\nexit 0\n", 0755),
                  fileEntry("./postinstall", "#!/bin/sh\nrm -rf /tmp/x\n", 0755)},
                 Compression::gzip);
    const auto contents =
        read({{"Distribution", bytes("<installer-gui-script/>")},
              {"App.pkg/Payload", app},
              {"App.pkg/Scripts", scripts},
              {"App.pkg/PackageInfo", packageInfo("com.example.app", "1.2", "/")},
              {"Helper.pkg/PackageInfo", packageInfo("com.example.helper", "3", "/Library/Helper")},
              {"Helper.pkg/Payload", helper},
              {"Conf.pkg/Payload",
               makeCpio({fileEntry("./etc/foo.conf", "x=1\n")}, Compression::none)}});
    ASSERT_TRUE(contents) << contents.error().message;
    EXPECT_EQ(contents->distribution, "<installer-gui-script/>");
    EXPECT_TRUE(contents->problems.empty());
    EXPECT_FALSE(contents->cut());
    expectDataFile(shown(*contents), "product-archive.txt");

    // A lone component package has its members at the top.
    const auto lone = read(
        {{"PackageInfo", packageInfo("com.example.lone", "1", "/opt")},
         {"Payload", makeCpio({fileEntry("./bin/x", "x", 0755)}, Compression::pbzx, 4096, true)}});
    ASSERT_TRUE(lone) << lone.error().message;
    expectDataFile(shown(*lone), "lone-component.txt");
}

TEST_F(PayloadTest, HostilePayloadsAreStoppedInWordsAndWhatWasListedStays) {
    std::vector<ArchiveEntry> many;
    for (int i = 0; i < 10; ++i) many.push_back(fileEntry("./f" + std::to_string(i), "x"));
    auto truncated = makeCpio(many, Compression::pbzx, 64);
    truncated.resize(truncated.size() - 20);
    auto garbage = makeCpio(many, Compression::pbzx);
    garbage[garbage.size() / 2] ^= std::byte{0xff};  // inside the only chunk's xz stream
    PayloadBudget small;
    small.minBytesForRatio = 1 << 20;
    small.maxRatio = 50;
    PayloadBudget few;
    few.maxFiles = 3;
    const struct {
        const char* name;
        std::vector<std::byte> payload;
        PayloadBudget budget;
        std::string problem;
        bool cut;
    } cases[] = {
        {"truncated pbzx", truncated, {}, "Payload: a pbzx chunk is cut short", false},
        {"broken xz", garbage, {}, "Payload: a pbzx chunk is no valid xz stream", false},
        {"bomb", makeCpio({fileEntry("./zeros", std::string(8u << 20, '\0'))}, Compression::gzip),
         small,
         "Payload: the payloads expand more than 50 times their size, as no real payload does",
         true},
        {"too many", makeCpio(many, Compression::gzip), few,
         "Payload: the payloads list more than 3 entries", true},
        {"not an archive", bytes(std::string(600, 'z')), {}, "Payload: not an archive", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto contents = read(
            {{"Payload", c.payload}, {"Scripts", makeCpio(many, Compression::gzip)}}, c.budget);
        ASSERT_TRUE(contents) << contents.error().message;
        ASSERT_EQ(contents->components.size(), 1u);
        const auto& problems = contents->components[0].problems;
        ASSERT_FALSE(problems.empty());
        EXPECT_TRUE(problems[0].message.starts_with(c.problem)) << problems[0].message;
        EXPECT_EQ(contents->cut(), c.cut);
        // A bound met stops the whole listing; a broken payload leaves the scripts listed.
        EXPECT_EQ(contents->components[0].scripts.empty(), c.cut);
    }
    ASSERT_TRUE(writeFile(path, bytes("this is no package at all")));
    const auto notXar = package::readPackageContents(path);
    ASSERT_FALSE(notXar);
    EXPECT_EQ(notXar.error().code, ErrorCode::unsupported);
    EXPECT_TRUE(notXar.error().message.starts_with("not a flat installer package"))
        << notXar.error().message;
}

TEST_F(PayloadTest, OnlyCodeIsWrittenOutAndNothingLeavesItsFolder) {
    const auto machO = makeMachO({});
    std::vector<ArchiveEntry> entries;
    for (const auto& e : varko::testing::dataCases("escaping-payload.txt"))
        entries.push_back(
            {e[0].toStdString(),
             e[2] == "(a Mach-O)"
                 ? std::string(reinterpret_cast<const char*>(machO.data()), machO.size())
                 : e[2].toStdString(),
             e[1] == "hardlink" ? 0100644 : e[1].toUInt(nullptr, 8), e[3].toStdString(),
             e[1] == "hardlink", 0, 80});
    const fs::path root = dir.filePath("extracted").toStdString();
    fs::create_directory(root);
    fs::permissions(root, fs::perms::owner_all);
    const auto contents = package::extractPackageApps(
        write({{"A.pkg/PackageInfo", packageInfo("a", "1", "/Applications")},
               {"A.pkg/Payload", makeCpio(entries, Compression::gzip)}}),
        {root, package::maxExtractedBytes});
    ASSERT_TRUE(contents) << contents.error().message;
    // Every entry is still listed, refused or not; the tool lost its setuid bit and others'
    // write; the link in stays, the rest is refused.
    expectDataFile(shown(*contents), "extracted-listing.txt");
    expectDataFile(tree(root), "extracted-tree.txt");
    EXPECT_EQ(contents->apps[0].onDisk, root / "0" / "Foo.app");
    // Nothing was written beside the folder, nor where the absolute path pointed.
    const auto count = [](const std::string& text) { return std::ranges::count(text, '\n'); };
    EXPECT_EQ(count(tree(root.parent_path())), count(tree(root)) + 2)
        << "only the folder itself and the package beside it";
    EXPECT_FALSE(fs::exists("/tmp/absolute.app"));

    // A bound on what reaches the disk stops the writing, and the listing with it.
    const fs::path small = dir.filePath("small").toStdString();
    fs::create_directory(small);
    const auto cut = package::extractPackageApps(
        write({{"Payload", makeCpio({folderEntry("./Big.app"),
                                     fileEntry("./Big.app/a", std::string(3000, 'a')),
                                     fileEntry("./Big.app/b", std::string(3000, 'b'))},
                                    Compression::gzip)}}),
        {small, 4000});
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->cut());
    std::uintmax_t written = 0;
    for (const auto& f : fs::recursive_directory_iterator(small))
        if (f.is_regular_file()) written += f.file_size();
    EXPECT_LE(written, 4000u);
}

TEST_F(PayloadTest, ABundleStylePackageIsListedFromItsArchiveInfoAndScripts) {
    const fs::path pkg = dir.filePath("Old.pkg").toStdString();
    fs::create_directories(pkg / "Contents/Resources");
    ASSERT_TRUE(writeFile(
        pkg / "Contents/Archive.pax.gz",
        makeCpio({folderEntry("."), fileEntry("./Tool.app/run", "x", 04755)}, Compression::gzip)));
    std::ofstream(pkg / "Contents/Info.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>com.example.old</string>"
           "<key>IFPkgFlagDefaultLocation</key><string>/Applications</string></dict></plist>";
    std::ofstream(pkg / "Contents/Resources/postflight") << "#!/bin/sh\necho hi\n";
    // A script that is a link is not followed out of the package.
    fs::create_symlink("/etc/passwd", pkg / "Contents/Resources/preflight");
    const auto contents = package::readPackageContents(pkg);
    ASSERT_TRUE(contents) << contents.error().message;
    expectDataFile(shown(*contents), "bundle-style.txt");

    // Its app is written out to be inspected, as a flat package's is.
    const fs::path root = dir.filePath("out").toStdString();
    fs::create_directory(root);
    const auto extracted = package::extractPackageApps(pkg, {root, package::maxExtractedBytes});
    ASSERT_TRUE(extracted) << extracted.error().message;
    ASSERT_EQ(extracted->apps.size(), 1u);
    EXPECT_EQ(extracted->apps[0].installedPath, "/Applications/Tool.app");
    EXPECT_EQ(tree(root), "0 d 0700\n0/Tool.app d 0700\n0/Tool.app/run f 0755\n");
    // Such packages predate signing: the tools find none, and never an error.
    const auto verdict = spctl::verifyPackage(pkg, signing::TrustAnchors::apple(), 0);
    ASSERT_TRUE(verdict) << verdict.error().message;
    EXPECT_EQ(verdict->kind, spctl::PackageVerdict::Kind::Unsigned);

    // A folder by that name with its payload reached through a link is none.
    const fs::path fake = dir.filePath("Fake.pkg").toStdString();
    fs::create_directory(fake);
    fs::create_directory_symlink(pkg / "Contents", fake / "Contents");
    EXPECT_FALSE(package::isBundlePackage(fake));
    const auto notOne = package::readPackageContents(fake);
    ASSERT_FALSE(notOne);
    EXPECT_EQ(notOne.error().code, ErrorCode::unsupported);
    EXPECT_FALSE(spctl::verifyPackage(fake, signing::TrustAnchors::apple(), 0));
}

}  // namespace
