// What a flat package would install: its components' payloads in every compression that
// pkgbuild writes, their scripts, and the bounds that stop a hostile one.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "fixtures/machowriter.h"
#include "fixtures/pkgwriter.h"
#include "package/packagesignature.h"
#include "package/payload.h"

using namespace varko;
using namespace varko::examplegen;
using package::PayloadBudget;

namespace {

std::vector<std::byte> bytes(const std::string& text) {
    const auto* p = reinterpret_cast<const std::byte*>(text.data());
    return {p, p + text.size()};
}

class PayloadTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    Expected<package::PackageContents> read(const std::vector<PackageMember>& members,
                                            const PayloadBudget& budget = {}) {
        return readFile(makeFlatPackage(members), budget);
    }
    Expected<package::PackageContents> readFile(const std::vector<std::byte>& data,
                                                const PayloadBudget& budget = {}) {
        const std::string path = dir.filePath("Test.pkg").toStdString();
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        return package::readPackageContents(path, budget);
    }
};

/// A listing line per entry: path, type, mode, owner, size, link, flags.
std::vector<std::string> rows(const package::ComponentPackage& c) {
    std::vector<std::string> out;
    for (const package::PayloadFile& f : c.files) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", f.mode);
        std::string row = f.path + " " + package::entryTypeName(f.type) + " " + mode + " " +
                          std::to_string(f.uid) + ":" + std::to_string(f.gid) + " " +
                          std::to_string(f.size);
        if (!f.linkTarget.empty()) row += " -> " + f.linkTarget;
        if (f.setuid()) row += " setuid";
        if (f.setgid()) row += " setgid";
        if (f.worldWritable()) row += " world-writable";
        out.push_back(row);
    }
    return out;
}

TEST_F(PayloadTest, AProductArchiveListsEachComponentsFilesWhereTheyInstallAndItsScripts) {
    ArchiveEntry tool =
        fileEntry("./Applications/Foo.app/Contents/MacOS/tool", "#!/bin/sh\n", 04755);
    ArchiveEntry link = linkEntry("./Applications/Foo.app/Contents/Current", "MacOS");
    const auto app = makeCpio(
        {folderEntry("."), folderEntry("./Applications"), folderEntry("./Applications/Foo.app"),
         tool, link, folderEntry("./Applications/Shared", 0777),
         folderEntry("./Applications/Drop", 01777)},
        Compression::gzip);
    // Big enough for several chunks, one of them stored because random bytes don't shrink.
    std::string noise(300000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
    const auto helper = makeCpio({folderEntry("."), fileEntry("./helper.dylib", noise, 02755),
                                  fileEntry("./readme.txt", std::string(200000, 'a'), 0666)},
                                 Compression::pbzx, 128 * 1024);
    const auto plain = makeCpio({fileEntry("./etc/foo.conf", "x=1\n")}, Compression::none);
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
              {"Conf.pkg/Payload", plain}});
    ASSERT_TRUE(contents) << contents.error().message;
    EXPECT_EQ(contents->distribution, "<installer-gui-script/>");
    EXPECT_TRUE(contents->problems.empty());
    EXPECT_FALSE(contents->cut());
    ASSERT_EQ(contents->components.size(), 3u);
    const auto& [appPkg, helperPkg, confPkg] =
        std::tie(contents->components[0], contents->components[1], contents->components[2]);
    EXPECT_EQ(appPkg.name, "App.pkg");
    EXPECT_EQ(appPkg.identifier, "com.example.app");
    EXPECT_EQ(appPkg.version, "1.2");
    EXPECT_EQ(rows(appPkg),
              (std::vector<std::string>{
                  "/ directory 0755 0:80 0",
                  "/Applications directory 0755 0:80 0",
                  "/Applications/Foo.app directory 0755 0:80 0",
                  "/Applications/Foo.app/Contents/MacOS/tool file 4755 0:80 10 setuid",
                  "/Applications/Foo.app/Contents/Current symlink 0755 0:80 5 -> MacOS",
                  "/Applications/Shared directory 0777 0:80 0 world-writable",
                  "/Applications/Drop directory 1777 0:80 0",
              }));
    ASSERT_EQ(appPkg.scripts.size(), 2u);
    EXPECT_EQ(appPkg.scripts[0].name, "preinstall");
    EXPECT_EQ(appPkg.scripts[1].text, "#!/bin/sh\nrm -rf /tmp/x\n");
    EXPECT_TRUE(appPkg.scripts[1].executable);
    EXPECT_EQ(rows(helperPkg),
              (std::vector<std::string>{
                  "/Library/Helper directory 0755 0:80 0",
                  "/Library/Helper/helper.dylib file 2755 0:80 300000 setgid",
                  "/Library/Helper/readme.txt file 0666 0:80 200000 world-writable",
              }));
    EXPECT_EQ(rows(confPkg), std::vector<std::string>{"/etc/foo.conf file 0644 0:80 4"});
    for (const auto& c : contents->components) EXPECT_TRUE(c.problems.empty()) << c.name;
}

TEST_F(PayloadTest, ALoneComponentPackageHasItsMembersAtTheTop) {
    const auto contents = read(
        {{"PackageInfo", packageInfo("com.example.lone", "1", "/opt")},
         {"Payload", makeCpio({fileEntry("./bin/x", "x", 0755)}, Compression::pbzx, 4096, true)}});
    ASSERT_TRUE(contents) << contents.error().message;
    ASSERT_EQ(contents->components.size(), 1u);
    EXPECT_EQ(contents->components[0].name, "");
    EXPECT_EQ(rows(contents->components[0]),
              std::vector<std::string>{"/opt/bin/x file 0755 0:80 1"});
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
    const auto notXar = readFile(bytes("this is no package at all"));
    ASSERT_FALSE(notXar);
    EXPECT_EQ(notXar.error().code, ErrorCode::unsupported);
    EXPECT_TRUE(notXar.error().message.starts_with("not a flat installer package"))
        << notXar.error().message;
}

}  // namespace

namespace {

/// Every path under `root`, relative, with its kind: "d", "f 0755", "l -> target".
std::vector<std::string> tree(const std::filesystem::path& root) {
    std::vector<std::string> out;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path relative = it->path().lexically_relative(root);
        const fs::file_status status = it->symlink_status();
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(status.permissions()) & 07777u);
        if (fs::is_symlink(status))
            out.push_back(relative.string() + " l -> " + fs::read_symlink(it->path()).string());
        else if (fs::is_directory(status))
            out.push_back(relative.string() + " d " + mode);
        else
            out.push_back(relative.string() + " f " + mode);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(PayloadTest, OnlyCodeIsWrittenOutAndNothingLeavesItsFolder) {
    const auto machOBytes = makeMachO({});
    const std::string machO(reinterpret_cast<const char*>(machOBytes.data()), machOBytes.size());
    const std::vector<ArchiveEntry> entries{
        folderEntry("."),
        folderEntry("./Foo.app"),
        folderEntry("./Foo.app/Contents"),
        fileEntry("./Foo.app/Contents/tool", "#!/bin/sh\n", 04777),
        linkEntry("./Foo.app/Contents/inside", "tool"),
        linkEntry("./Foo.app/Contents/outside", "../../../../etc/passwd"),
        linkEntry("./Foo.app/Contents/absolute", "/etc/passwd"),
        fileEntry("./Foo.app/../../escape.app/x", "out"),
        fileEntry("/tmp/absolute.app/x", "out"),
        {"./Foo.app/Contents/pipe", {}, 0010644, {}, false, 0, 80},
        fileEntry("./Foo.app/Contents/inside/through", "via a link"),
        fileEntry("./readme.txt", "not in an app"),
        // Code outside apps is written too: a framework, and a tool known by its bytes alone.
        fileEntry("./Library/F.framework/F", "x"),
        fileEntry("./bin/tool", machO, 0755),
        fileEntry("./bin/script", "#!/bin/sh\n", 0755),
    };
    const std::filesystem::path root = dir.filePath("extracted").toStdString();
    std::filesystem::create_directory(root);
    std::filesystem::permissions(root, std::filesystem::perms::owner_all);
    package::Extraction extraction{root, package::maxExtractedBytes};
    const auto pkg = makeFlatPackage({{"A.pkg/PackageInfo", packageInfo("a", "1", "/Applications")},
                                      {"A.pkg/Payload", makeCpio(entries, Compression::gzip)}});
    const std::string path = dir.filePath("Apps.pkg").toStdString();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(pkg.data()), std::streamsize(pkg.size()));
    const auto contents = package::extractPackageApps(path, extraction);
    ASSERT_TRUE(contents) << contents.error().message;
    std::vector<std::string> pieces;
    for (const package::ExtractedApp& app : contents->apps)
        pieces.push_back(app.installedPath + " " + package::codeKindName(app.kind));
    EXPECT_EQ(pieces, (std::vector<std::string>{"/Applications/Foo.app app",
                                                "/Applications/Library/F.framework framework",
                                                "/Applications/bin/tool mach-o"}));
    EXPECT_EQ(contents->apps[0].onDisk, root / "0" / "Foo.app");
    // The tool lost its setuid bit and others' write; the link in stays, the rest is refused.
    EXPECT_EQ(tree(root), (std::vector<std::string>{
                              "0 d 0700",
                              "0/Foo.app d 0700",
                              "0/Foo.app/Contents d 0700",
                              "0/Foo.app/Contents/inside l -> tool",
                              "0/Foo.app/Contents/tool f 0755",
                              "0/Library d 0700",
                              "0/Library/F.framework d 0700",
                              "0/Library/F.framework/F f 0644",
                              "0/bin d 0700",
                              "0/bin/tool f 0755",
                          }));
    std::vector<std::string> refusals;
    for (const Error& e : contents->components[0].problems) {
        EXPECT_EQ(e.code, ErrorCode::refused) << e.message;
        refusals.push_back(e.message);
    }
    EXPECT_EQ(refusals,
              (std::vector<std::string>{
                  "Foo.app/Contents/outside: a link that points out of the folder",
                  "Foo.app/Contents/absolute: a link that points out of the folder",
                  "Foo.app/../../escape.app/x: the path leaves the folder it installs into",
                  "/tmp/absolute.app/x: the path leaves the folder it installs into",
                  "Foo.app/Contents/pipe: a device node, pipe or socket is not written",
                  "Foo.app/Contents/inside/through: it lies under a link or a file, not a folder",
              }));
    // Nothing was written beside the folder, nor where the absolute path pointed.
    EXPECT_EQ(tree(root.parent_path()).size(), tree(root).size() + 2)
        << "only the folder itself and the package beside it";
    EXPECT_FALSE(std::filesystem::exists("/tmp/absolute.app"));
    // Every entry is still listed, refused or not.
    EXPECT_EQ(contents->components[0].files.size(), entries.size());

    // A bound on what reaches the disk stops the writing, and the listing with it.
    const std::filesystem::path small = dir.filePath("small").toStdString();
    std::filesystem::create_directory(small);
    const auto big =
        makeFlatPackage({{"Payload", makeCpio({folderEntry("./Big.app"),
                                               fileEntry("./Big.app/a", std::string(3000, 'a')),
                                               fileEntry("./Big.app/b", std::string(3000, 'b'))},
                                              Compression::gzip)}});
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(big.data()), std::streamsize(big.size()));
    const auto cut = package::extractPackageApps(path, {small, 4000});
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->cut());
    std::uintmax_t bytes = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(small))
        if (f.is_regular_file()) bytes += f.file_size();
    EXPECT_LE(bytes, 4000u);
}

}  // namespace

namespace {

TEST_F(PayloadTest, ABundleStylePackageIsListedFromItsArchiveInfoAndScripts) {
    namespace fs = std::filesystem;
    const fs::path pkg = dir.filePath("Old.pkg").toStdString();
    fs::create_directories(pkg / "Contents/Resources");
    const auto write = [](const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    };
    const auto archive =
        makeCpio({folderEntry("."), fileEntry("./Tool.app/run", "x", 04755)}, Compression::gzip);
    std::ofstream(pkg / "Contents/Archive.pax.gz", std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()), std::streamsize(archive.size()));
    write(pkg / "Contents/Info.plist",
          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
          "<key>CFBundleIdentifier</key><string>com.example.old</string>"
          "<key>IFPkgFlagDefaultLocation</key><string>/Applications</string></dict></plist>");
    write(pkg / "Contents/Resources/postflight", "#!/bin/sh\necho hi\n");
    // A script that is a link is not followed out of the package.
    fs::create_symlink("/etc/passwd", pkg / "Contents/Resources/preflight");
    const auto contents = package::readPackageContents(pkg);
    ASSERT_TRUE(contents) << contents.error().message;
    ASSERT_EQ(contents->components.size(), 1u);
    const auto& c = contents->components[0];
    EXPECT_EQ(c.identifier, "com.example.old");
    EXPECT_EQ(rows(c),
              (std::vector<std::string>{"/Applications directory 0755 0:80 0",
                                        "/Applications/Tool.app/run file 4755 0:80 1 setuid"}));
    ASSERT_EQ(c.scripts.size(), 1u);
    EXPECT_EQ(c.scripts[0].name, "postflight");
    EXPECT_EQ(c.scripts[0].text, "#!/bin/sh\necho hi\n");
    EXPECT_TRUE(c.problems.empty());

    // Its app is written out to be inspected, as a flat package's is.
    const fs::path root = dir.filePath("out").toStdString();
    fs::create_directory(root);
    const auto extracted = package::extractPackageApps(pkg, {root, package::maxExtractedBytes});
    ASSERT_TRUE(extracted) << extracted.error().message;
    ASSERT_EQ(extracted->apps.size(), 1u);
    EXPECT_EQ(extracted->apps[0].installedPath, "/Applications/Tool.app");
    EXPECT_EQ(tree(root),
              (std::vector<std::string>{"0 d 0700", "0/Tool.app d 0700", "0/Tool.app/run f 0755"}));
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
