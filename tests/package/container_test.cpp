#include "package/container.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>

#include "fixtures/exampleapp.h"
#include "fixtures/machowriter.h"
#include "fixtures/udifwriter.h"
#include "fixtures/zipwriter.h"
#include "package/sevenziplisting.h"

namespace varko::package {
namespace {

namespace fs = std::filesystem;
using examplegen::ZipEntry;

/// Every path under `root`, to tell what appeared.
std::set<std::string> tree(const fs::path& root) {
    std::set<std::string> paths;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error))
        paths.insert(it->path().lexically_relative(root).string());
    return paths;
}

/// Each test's own work folder, with the temporary folder inside it, so that whatever a
/// container leaves or writes outside its private folder shows.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/varko-container-test-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        work = name;
        fs::create_directories(work / "tmp");
        fs::create_directories(work / "in");
        savedTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        ::setenv("TMPDIR", (work / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (savedTmp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", savedTmp.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }
    fs::path work;
    std::string savedTmp;
};

fs::path exampleFolder(const fs::path& in) {
    const fs::path folder = in / "volume";
    fs::create_directories(folder);
    EXPECT_TRUE(examplegen::writeExampleApp(folder).ok());
    return folder;
}

TEST_F(ContainerTest, ContainersExpandIntoAppsOrAreRefusedWithoutWritingOutside) {
    const fs::path in = work / "in";
    const std::string outside = (work / "escaped").string();
    const auto raw = [](std::vector<std::byte> bytes) {
        return [bytes = std::move(bytes)](const fs::path& at) {
            EXPECT_TRUE(examplegen::writeFile(at, bytes)) << at;
            return true;  // not false, which would stand for a missing genisoimage
        };
    };
    const auto zip = [&](const std::vector<ZipEntry>& entries) {
        return raw(examplegen::writeZip(entries));
    };
    const auto image = [&](examplegen::UdifOptions options) {
        return [&in, options](const fs::path& at) {
            return examplegen::writeDiskImage(exampleFolder(in), at, options);
        };
    };
    /// A zip member: `zeros` zero bytes when not 0, with a size in the headers when `claimed`.
    const auto member = [](std::string name, std::uint32_t mode = 0100644, std::uint64_t zeros = 0,
                           std::uint64_t claimed = 0, bool encrypted = false) {
        return ZipEntry{std::move(name), "x", mode, zeros, claimed, encrypted};
    };
    const ZipEntry plist{"A.app/Contents/Info.plist", "<plist/>", 0100644, 0, 0, false};
    const auto link = [](std::string name, std::string to) {
        return ZipEntry{std::move(name), std::move(to), 0120777, 0, 0, false};
    };
    examplegen::UdifOptions pastTheEnd;
    pastTheEnd.chunkOffsetShift = 1 << 20;
    const auto text = [](std::string bytes) {
        return [bytes](const fs::path& at) { return bool(std::ofstream(at) << bytes); };
    };

    struct Case {
        const char* file;
        std::function<bool(const fs::path&)> write;
        std::vector<std::string> apps;  ///< expected, when it opens
        const char* error;              ///< expected words, when it doesn't
        std::size_t problems = 0;
    };
    const std::vector<Case> cases = {
        {"Installer.dmg", image({}), {"Example.app"}, nullptr},
        {"Update.ZIP",
         zip({plist, member("__MACOSX/._A.app"),
              member("Tools/B.app/Contents/Info.plist", 0104777)}),
         {"A.app", "Tools/B.app"},
         nullptr},
        // Links out are kept out.
        {"links.zip",
         zip({plist, link("A.app/abs", "/etc"), link("A.app/Contents/up", "../..")}),
         {"A.app"},
         nullptr,
         2},
        {"dots.zip", zip({plist, member("../../../escaped")}), {}, "a path that leaves its folder"},
        {"abs.zip", zip({plist, member(outside)}), {}, "an absolute path"},
        {"through.zip",
         zip({plist, link("A.app/l", "../../.."), member("A.app/l/escaped")}),
         {},
         "under a link"},
        {"bomb.zip", zip({plist, member("A.app/zeros", 0100644, 64 << 20)}), {}, "more than 8 MiB"},
        {"ratio.zip",
         zip({plist, member("A.app/zeros", 0100644, 6 << 20)}),
         {},
         "200 times its own size"},
        {"liar.zip", zip({plist, member("A.app/zeros", 0100644, 64 << 20, 1000)}), {}, "zeros"},
        {"secret.zip", zip({member("A.app/x", 0100644, 0, 0, true)}), {}, "is encrypted"},
        {"locked.dmg", text("encrcdsa" + std::string(600, '\0')), {}, "encrypted disk image"},
        {"short.dmg", image(pastTheEnd), {}, "not the volume inside"},
        {"damaged.dmg",
         raw(examplegen::writeUdif(std::string(1 << 16, 'U'))),
         {},
         "not the volume inside"},
        {"junk.dmg", text("junk"), {}, "can't read"},
        {"empty.zip", zip({member("readme.txt")}), {}, nullptr},
        {"a.tar", zip({}), {}, "neither a disk image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path file = in / c.file;
        if (!c.write(file)) {
            GTEST_SKIP() << "genisoimage is needed to make disk images";
        }
        const std::set<std::string> before = tree(work);
        ContainerBudget budget;
        budget.maxBytes = 8 << 20;
        budget.minBytesForRatio = 4 << 20;
        {
            const auto expanded = expandContainer(file, budget);
            if (c.error) {
                ASSERT_FALSE(expanded.ok());
                EXPECT_NE(expanded.error().message.find(c.error), std::string::npos)
                    << expanded.error().message;
            } else {
                ASSERT_TRUE(expanded.ok()) << expanded.error().message;
                std::vector<std::string> inside(expanded->pathsInside.begin(),
                                                expanded->pathsInside.end());
                EXPECT_EQ(inside, c.apps);
                EXPECT_EQ(expanded->problems.size(), c.problems);
                for (const fs::path& app : expanded->apps) EXPECT_TRUE(fs::is_directory(app));
                // Nothing setuid, nothing writable by others, no link out.
                for (const std::string& path : tree(expanded->folder->path())) {
                    struct stat st {};
                    ASSERT_EQ(::lstat((expanded->folder->path() / path).c_str(), &st), 0);
                    if (!S_ISLNK(st.st_mode)) {
                        EXPECT_EQ(st.st_mode & 06002, 0u) << path;
                    }
                }
            }
        }
        EXPECT_EQ(tree(work), before) << "written outside, or left behind";
        fs::remove_all(in / "volume");
        fs::remove(file);
    }
}

TEST_F(ContainerTest, SevenZipIsStoppedPastItsTimeOrBudgetAndLeavesNothing) {
    // None, or stand-ins that list nothing, then take too long or write past the budget.
    const struct {
        const char* extract;
        const char* error;
    } tools[] = {{nullptr, "could not be started"},
                 {"sleep 30", "time limit"},
                 {"head -c 50000000 /dev/zero > \"${5#-o}/big\"; sleep 30", "more than 8 MiB"}};
    for (const auto& tool : tools) {
        SCOPED_TRACE(tool.error);
        const fs::path fake = work / "in" / "7zz";
        fs::remove(fake);
        if (tool.extract) {
            std::ofstream(fake) << "#!/bin/sh\n[ \"$1\" = l ] && { echo ----------; exit 0; }\n"
                                << tool.extract << "\n";
            fs::permissions(fake, fs::perms::owner_all);
        }
        ASSERT_TRUE(examplegen::writeFile(work / "in" / "a.zip", examplegen::writeZip({})));
        ContainerBudget budget;
        budget.sevenZip = fake;
        budget.maxBytes = 8 << 20;
        budget.timeLimit = std::chrono::milliseconds(1000);
        const auto expanded = expandContainer(work / "in" / "a.zip", budget);
        ASSERT_FALSE(expanded.ok());
        EXPECT_NE(expanded.error().message.find(tool.error), std::string::npos)
            << expanded.error().message;
        EXPECT_TRUE(tree(work / "tmp").empty());
    }
}

TEST(SevenZipListing, ReadsNestedTypesEntriesAndRefusals) {
    const auto listing = parseSevenZipListing(
        "--\nPath = x.dmg\nType = Dmg\n----\nPath = 0.hfs\n"
        "--\nPath = 0.hfs\nType = HFS\n\n----------\n"
        "Path = A.app\nFolder = +\n\n"
        "Path = A.app/l\nFolder = -\nSize = 12\n"
        "Attributes = A_ -rw-r--r-- lrwxrwxrwx\n\n"
        "Path = A.app/l/x\nSize = 3\nEncrypted = +\n",
        10);
    ASSERT_TRUE(listing.ok());
    EXPECT_EQ(listing->types, (std::vector<std::string>{"Dmg", "HFS"}));
    ASSERT_EQ(listing->entries.size(), 3u);
    EXPECT_TRUE(listing->entries[0].folder);
    EXPECT_TRUE(listing->entries[1].link);
    EXPECT_EQ(listing->entries[1].size, 12u);
    EXPECT_TRUE(listing->entries[2].encrypted);
    EXPECT_EQ(entryUnderLink(listing->entries), &listing->entries[2]);
    EXPECT_EQ(parseSevenZipListing("----------\nPath = a\n\nPath = b\n", 1).error().code,
              ErrorCode::tooLarge);

    const struct {
        const char* path;
        const char* refusal;
    } paths[] = {{"A.app/x", ""},     {"a..b/..c", ""},          {"", "without a name"},
                 {"/x", "absolute"},  {"a/../../x", "leaves"},   {"..", "leaves"},
                 {"a/b/c/d", "deep"}, {"aaaaaaaaaaaa", "longer"}};
    for (const auto& p : paths)
        EXPECT_NE(pathRefusal(p.path, 10, 3).find(p.refusal), std::string::npos) << p.path;
    EXPECT_EQ(printable("a\x1b[31m\nb"), "a?[31m?b");
}

}  // namespace
}  // namespace varko::package
