// The stand-ins as programs on items made to hurt them: each ends, with words, never
// waiting on a FIFO and never dying of a signal. Run with raw argument bytes, which
// QProcess can't pass, so that a name that is not UTF-8 reaches a tool as it is.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "format/visibletext.h"
#include "signature/signingfixture.h"
#include "support/childprocess.h"
#include "support/files.h"

using namespace varko::testing;
namespace fs = std::filesystem;

namespace {

/// Runs one of our tools on `arguments`, in `addressSpace` bytes when that is not 0.
Finished run(const std::string& tool, std::vector<std::string> arguments, rlim_t addressSpace = 0) {
    arguments.insert(arguments.begin(), std::string(VARKO_BIN_DIR "/") + tool);
    return runProgram({arguments, {}, {}, false}, addressSpace);
}

class HostileItemTest : public ::testing::Test {
protected:
    TestPki pki;
    TemporaryDir dir;
    fs::path path(const std::string& name) const {
        return fs::path(dir.path().toStdString()) / name;
    }
    fs::path bundle(const std::string& name) {
        return signedBundle(dir, name,
                            {&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}, nullptr});
    }
};

TEST_F(HostileItemTest, AFifoIsRefusedAtOnceNotWaitedOn) {
    const std::string pkg = path("Tool.pkg").string();
    ASSERT_EQ(::mkfifo(pkg.c_str(), 0600), 0);
    Finished r = run("varko-spctl", {"-a", "-vv", "-t", "install", pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, pkg + ": not a regular file (a FIFO)\n");
    r = run("varko-pkgutil", {"--check-signature", pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: " + pkg + ": not a regular file (a FIFO)\n");
    for (const char* tool : {"varko-spctl", "varko-codesign"}) {
        r = run(tool, {tool == std::string("varko-spctl") ? "-a" : "-dv", pkg});
        EXPECT_EQ(r.status, 1) << tool;
        EXPECT_EQ(r.err, pkg + ": bundle format unrecognized, invalid, or unsuitable\n") << tool;
    }
}

TEST_F(HostileItemTest, ProcFilesLinkedIntoABundleGiveMessagesNotAborts) {
    const struct {
        const char* name;
        const char* file;
        const char* target;
        bool alone;  ///< whether codesign says nothing else first
    } cases[] = {{"Info", "Contents/Info.plist", "/proc/self/pagemap", true},
                 {"Seal", "Contents/_CodeSignature/CodeResources", "/proc/self/mem", false}};
    for (const auto& c : cases) {
        const std::string app = bundle(c.name).string(), link = app + "/" + c.file;
        fs::remove(link);
        fs::create_symlink(c.target, link);
        const std::string leads = link + " is a symbolic link that leads out of the bundle";
        Finished r = run("varko-codesign", {"-dvvv", app});
        EXPECT_EQ(r.status, 1);
        if (c.alone)
            EXPECT_EQ(r.err, app + ": " + leads + "\n");
        else
            EXPECT_TRUE(r.err.ends_with(app + ": " + leads + "\n")) << r.err;
        r = run("varko-spctl", {"-a", "-vv", app});
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, app + ": rejected (" + leads + ")\nsource=no usable signature\n");
    }
}

TEST_F(HostileItemTest, ANameThatIsNotUtf8ReachesTheToolsAsItsBytes) {
    const auto app = bundle("N\xff\xfe");
    ASSERT_FALSE(app.empty());
    Finished r = run("varko-codesign", {"-dvvv", app.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    // The tool opened the path it was given; it echoes the bytes that are no UTF-8 as \xNN.
    EXPECT_TRUE(r.err.starts_with(
        "Executable=" + varko::visibleControls((app / "Contents/MacOS/Signed").string()) + "\n"))
        << r.err;
    EXPECT_NE(r.err.find("N\\xFF\\xFE.app"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nAuthority=Varko Test Root CA\n"), std::string::npos) << r.err;
    // Inspected to the end: only the test root, which the tools never trust, stops it.
    r = run("varko-spctl", {"-a", "-vv", app.string()});
    EXPECT_EQ(r.err,
              app.string() + ": rejected (CSSMERR_TP_NOT_TRUSTED)\nsource=no usable signature\n");

    const fs::path pkg = path("P\xff.pkg");
    ASSERT_TRUE(varko::examplegen::writeFile(
        pkg, std::as_bytes(std::span("not a package, but long enough to be read"))));
    r = run("varko-pkgutil", {"--check-signature", pkg.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: " + pkg.string() + ": malformed xar archive (no xar! magic)\n");
}

// Whatever the memory a tool is given, it ends with words: an allocation that fails is
// an error message, not an abort.
TEST_F(HostileItemTest, NoMemoryLimitMakesAToolAbort) {
    const auto app = bundle("Big");
    std::ofstream(app / "Contents/Info.plist", std::ios::trunc)
        << "<plist "
           "version=\"1.0\"><dict><key>CFBundleExecutable</key><string>Signed</string><key>X</"
           "key><string>"
        << std::string(15u << 20, 'x') << "</string></dict></plist>";
    for (rlim_t mib = 12; mib <= 52; mib += 8) {
        for (const char* tool : {"varko-spctl", "varko-codesign"}) {
            SCOPED_TRACE(std::string(tool) + " in " + std::to_string(mib) + " MiB");
            const Finished r =
                run(tool, {tool == std::string("varko-spctl") ? "-a" : "-dvvv", app.string()},
                    mib << 20);
            EXPECT_EQ(r.signal, 0) << r.err;
            EXPECT_NE(r.status, -1);
            if (r.status != 0) {
                EXPECT_FALSE(r.err.empty());
            }
        }
    }
}

}  // namespace
