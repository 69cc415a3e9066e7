// What a hostile bundle can make the verifier read: nothing through a link that leads out
// of it, no FIFO waited on, and a file that can't be read is said to be so, by name.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "fixtures/componentbundle.h"
#include "signature/bundlelocator.h"
#include "signature/codeverifier.h"
#include "signature/hashbudget.h"
#include "signingfixture.h"
#include "support/files.h"

using namespace varko;
using namespace varko::testing;
namespace fs = std::filesystem;

namespace {

class BundleReadTest : public ::testing::Test {
protected:
    TestPki pki;
    TemporaryDir dir;
    SignWith developerId() const {
        return {&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}, nullptr};
    }
    fs::path bundle(const std::string& name) {
        const auto app = signedBundle(dir, name, developerId());
        EXPECT_TRUE(assess(app, pki.anchors()).accepted) << name;
        return app;
    }
    fs::path outside() const { return fs::path(dir.path().toStdString()) / "outside"; }
};

/// How locating the bundle's code failed; empty when it was found. A file that can't be
/// read is never told as no code at all, which the tools word apart.
std::string locateFailure(const fs::path& app) {
    const auto located = codesign::locateCode(app);
    if (located) return {};
    EXPECT_FALSE(codesign::isNoCode(located.error())) << located.error().message;
    return located.error().message;
}

void replaceWithLink(const fs::path& path, const fs::path& target) {
    fs::remove_all(path);
    fs::create_symlink(target, path);
}

TEST_F(BundleReadTest, LinksThatLeaveTheBundleAreNeverFollowed) {
    std::ofstream(outside())
        << "<plist><dict><key>CFBundleExecutable</key><string>Signed</string></dict></plist>";
    const auto other = bundle("Other");
    struct Case {
        const char* name;
        const char* link;  ///< in Contents, replaced by a link to `target`
        fs::path target;
    } cases[] = {
        {"InfoPlist", "Info.plist", "/proc/self/pagemap"},
        {"InfoPlistElsewhere", "Info.plist", outside()},
        {"Executable", "MacOS/Signed", other / "Contents/MacOS/Signed"},
        {"Seal", "_CodeSignature/CodeResources", "/proc/self/mem"},
        {"SealFolder", "_CodeSignature", other / "Contents/_CodeSignature"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto app = bundle(c.name);
        const fs::path link = app / "Contents" / c.link;
        replaceWithLink(link, c.target);
        const std::string leads =
            link.string() + " is a symbolic link that leads out of the bundle";
        const std::string failure = locateFailure(app);
        if (!failure.empty()) {
            EXPECT_EQ(failure, leads);
            continue;
        }
        const auto a = assess(app, pki.anchors());
        EXPECT_FALSE(a.accepted);
        EXPECT_NE(a.reason.find(leads), std::string::npos) << a.reason;
    }
    // A Contents that is another bundle's would have that bundle judged under this name.
    const auto app = bundle("Borrowed");
    replaceWithLink(app / "Contents", other / "Contents");
    EXPECT_EQ(locateFailure(app),
              (app / "Contents").string() + " is a symbolic link that leads out of the bundle");
}

TEST_F(BundleReadTest, FifosAreRefusedAndUnreadableFilesNamed) {
    auto app = bundle("InfoFifo");
    fs::remove(app / "Contents/Info.plist");
    ASSERT_EQ(::mkfifo((app / "Contents/Info.plist").c_str(), 0600), 0);
    EXPECT_EQ(locateFailure(app),
              (app / "Contents/Info.plist").string() + ": not a regular file (a FIFO)");

    app = bundle("SealedFifo");
    const fs::path data = app / "Contents/Resources/data.txt";
    fs::remove(data);
    ASSERT_EQ(::mkfifo(data.c_str(), 0600), 0);
    auto a = assess(app, pki.anchors());
    EXPECT_EQ(a.reason, "a sealed resource is missing or invalid (file could not be read: " +
                            data.string() + ": not a regular file (a FIFO))");

    app = bundle("SealFifo");
    const fs::path seal = app / "Contents/_CodeSignature/CodeResources";
    fs::remove(seal);
    ASSERT_EQ(::mkfifo(seal.c_str(), 0600), 0);
    EXPECT_EQ(assess(app, pki.anchors()).reason, seal.string() + ": not a regular file (a FIFO)");
}

TEST_F(BundleReadTest, ANameThatIsNotUtf8IsInspectedAsAnyOther) {
    const auto app = bundle("N\xff\xfe");
    ASSERT_EQ(app.filename().string(), "N\xff\xfe.app");
    const auto a = assess(app, pki.anchors());
    EXPECT_TRUE(a.accepted) << a.reason;
    EXPECT_EQ(a.source, "Developer ID");
}

// Within one item a bundle found sound is not walked again at that depth or deeper; a
// shallower check is made anew, and another item reads the files again.
TEST_F(BundleReadTest, ABundleFoundSoundStaysSoWithinItsItemAndDepthOnly) {
    auto nest = examplegen::manyComponents(1, 4096);  // a framework inside
    nest.name = "Nest";
    const auto app = examplegen::writeComponentApp(fs::path(dir.path().toStdString()), nest, pki);
    ASSERT_TRUE(app) << app.error().message;
    const auto location = codesign::locateCode(*app);
    ASSERT_TRUE(location);
    const auto verdict = [&](int depth) {
        const auto checked = codesign::verifyBundle(*location, depth);
        return checked ? std::string("sound") : checked.error().message;
    };
    const std::string tooDeep =
        "nested code is modified or invalid (Frameworks/Kit0.framework: "
        "nested too deep)";
    codesign::HashBudget item;
    {
        const codesign::HashBudget::Scope scope(&item);
        EXPECT_EQ(verdict(0), tooDeep);
        EXPECT_EQ(verdict(1), "sound");
        EXPECT_EQ(verdict(0), tooDeep);
        std::ofstream(*app / "Contents/Resources/readme.txt") << "changed";
        EXPECT_EQ(verdict(2), "sound");
        // A slice is known by its file too: another file in its place is checked anew.
        const auto slice = [&] {
            const auto code = codesign::loadCodeObject(location->executable, std::nullopt);
            const auto checked =
                code ? codesign::verifySlice(*code, *location) : Expected<void>(code.error());
            return checked ? std::string("sound") : checked.error().message;
        };
        EXPECT_EQ(slice(), "sound");
        const fs::path other = location->executable.string() + ".new";
        fs::copy_file(location->executable, other);
        std::fstream(other, std::ios::in | std::ios::out | std::ios::binary).seekp(4096).put('Z');
        fs::rename(other, location->executable);
        EXPECT_EQ(slice(), "invalid signature: page 1 of the code does not match its hash");
    }
    codesign::HashBudget another;
    const codesign::HashBudget::Scope scope(&another);
    EXPECT_EQ(verdict(2),
              "a sealed resource is missing or invalid (file modified: "
              "Resources/readme.txt)");
}

// The passes over one item share what they found while the files it rests on hold: a bundle
// found sound by one is sound to the next, an Info.plist put in place of another is read
// and located anew, code found inside the item is another answer than the code on its own,
// and nothing reaches a check made outside the item.
TEST_F(BundleReadTest, AnItemsPassesShareOnlyWhatStillHolds) {
    auto share = examplegen::manyComponents(1, 4096);
    share.name = "Share";
    const auto app = examplegen::writeComponentApp(fs::path(dir.path().toStdString()), share, pki);
    ASSERT_TRUE(app) << app.error().message;
    const auto sound = [](const codesign::CodeLocation& at) {
        codesign::HashBudget pass;
        const codesign::HashBudget::Scope scope(&pass);
        return bool(codesign::verifyBundle(at, 2));
    };
    const fs::path info = *app / "Contents/Info.plist";
    codesign::LocatedCode located;
    std::optional<codesign::CodeLocation> first;
    {
        const codesign::LocatedCode::Scope item(&located);
        const codesign::HashBudget::SharedResults shared;
        ReadFiles read;
        const ReadFiles::Scope reading(&read);
        first = *codesign::locateCode(*app);
        // Nested code asked on its own is an item of its own, not the app it was found in.
        const fs::path kit = *app / "Contents/Frameworks/Kit0.framework";
        const auto inApp = codesign::locateCode(kit, &*first->within);
        const auto alone = codesign::locateCode(kit);
        ASSERT_TRUE(inApp && alone);
        EXPECT_EQ(inApp->within->path(), first->within->path());
        EXPECT_EQ(alone->within->path(), fs::canonical(kit));
        EXPECT_TRUE(sound(*first));
        std::ofstream(*app / "Contents/Resources/readme.txt") << "changed";
        EXPECT_TRUE(sound(*first));
        std::ifstream in(info);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto at = text.find("<string>Share</string>");
        ASSERT_NE(at, std::string::npos);
        std::ofstream(info.string() + ".new") << text.replace(at + 8, 5, "Other");
        fs::copy_file(first->executable, first->executable.parent_path() / "Other");
        fs::rename(info.string() + ".new", info);
        const auto again = codesign::locateCode(*app);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->executable.filename(), "Other");
    }
    EXPECT_FALSE(sound(*first));
}

}  // namespace
