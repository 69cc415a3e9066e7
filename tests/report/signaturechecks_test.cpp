#include <gtest/gtest.h>

#include "report/signaturechecks.h"
#include "support/faketool.h"

using namespace varko;
using varko::testing::FakeTool;

namespace {

tools::ToolResult finished(int status, QByteArray out, QByteArray err) {
    tools::ToolResult r;
    r.started = true;
    r.exitStatus = status;
    r.standardOutput = std::move(out);
    r.standardError = std::move(err);
    return r;
}

TEST(TranscriptTest, JoinsStreamsOnSuccessAndFramesThemOnFailure) {
    const QString prefix = "⛔️ codesign error ";
    struct Case { int status; QByteArray out, err; QString expected; };
    const Case cases[] = {
        {0, "out", "err", "outerr"},
        {0, "", "", ""},
        {0, "", "Executable=/x\n", "Executable=/x\n"},
        {1, "", "x: code object is not signed at all", "⛔️ codesign error 1\nx: code object is not signed at all\n"},
        {3, "o", "e", "⛔️ codesign error 3\no\ne\n"},
        {-1, "", "", "⛔️ codesign error -1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_EQ(transcript(prefix, finished(c.status, c.out, c.err)), c.expected);
    }
}

TEST(TranscriptTest, SaysWhenAToolDidNotStartCrashedOrWroteNoText) {
    tools::ToolResult notStarted;
    notStarted.startError = "The program /x could not be started: No such file or directory";
    const QString t = transcript("⛔️ spctl error ", notStarted);
    EXPECT_TRUE(t.startsWith("⛔️ spctl error ")) << t.toStdString();
    EXPECT_TRUE(t.contains(notStarted.startError));
    EXPECT_TRUE(t.endsWith("\n"));

    tools::ToolResult crashed = finished(9, "source=Developer ID", "");
    crashed.crashed = true;
    EXPECT_EQ(transcript("P ", crashed), "P 9\nsource=Developer ID\n");

    const QString bad = transcript("P ", finished(0, QByteArray("caf\xe9", 4), ""));
    EXPECT_TRUE(bad.startsWith("caf\uFFFD"));
    EXPECT_TRUE(bad.contains("not valid UTF-8"));
}

TEST(SignatureFindingsTest, LiteralSubstringsDecideEachFinding) {
    struct Case { QString assessment, signature; bool notarized, apple, store, devID, hardened; };
    const Case cases[] = {
        {"x: accepted\nsource=Notarized Developer ID\n", "", true, false, false, false, false},
        {"source=Developer ID\n", "", false, false, false, true, false},
        {"source=Apple System\n", "", false, true, false, false, false},
        {"source=Mac App Store\n", "", false, false, true, false, false},
        {"Source=Apple\n", "", false, false, false, false, false},
        {"", "CodeDirectory v=20500 size=1 flags=0x10000(runtime) hashes=3+7", false, false, false, false, true},
        {"", "flags=0x0(none)", false, false, false, false, false},
        {"", "flags=0x2(adhoc)", false, false, false, false, false},
        {"", "flags=0x20000", false, false, false, false, false},
        {"", "flags=0x10000(runtime)\nflags=0x0(none)", false, false, false, false, false},
        {"", "flags=0x12(adhoc,linker-signed)", false, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.assessment + "|" + c.signature).toStdString());
        const CheckStates f = signatureFindings({c.assessment, c.signature});
        EXPECT_EQ(f.get(Check::isNotarizedCheck), c.notarized);
        EXPECT_EQ(f.get(Check::isAppleCheck), c.apple);
        EXPECT_EQ(f.get(Check::isAppStoreCheck), c.store);
        EXPECT_EQ(f.get(Check::isDevIDCheck), c.devID);
        EXPECT_EQ(f.get(Check::isHardenedCheck), c.hardened);
        EXPECT_FALSE(f.get(Check::cameraCheck).has_value());
    }
}

TEST(SignatureSectionsTest, HeadingsPerItemKind) {
    const SignatureSections app = signatureSections(true, {"a: accepted", "sig"});
    EXPECT_EQ(app.assessment, "\nApp signature check:\na: accepted");
    EXPECT_EQ(app.signature, "\ncodesign check:\nsig\n");
    const SignatureSections pkg = signatureSections(false, {"", ""});
    EXPECT_EQ(pkg.assessment, "\nInstaller package signature info:\n");
    EXPECT_EQ(pkg.signature, "\npkgutil signature check:\n\n");
}

TEST(RunSignatureToolsTest, RunsTheRightToolsWithThePathAsOneArgument) {
    QTemporaryDir dir;
    FakeTool spctl(dir, "spctl"), codesign(dir, "codesign"), pkgutil(dir, "pkgutil");
    spctl.answer("", 3, "x: rejected\nsource=no usable signature\n");
    codesign.answer("", 0, "Executable=x\nflags=0x10000(runtime)\n");
    pkgutil.answer("Package \"x\":\n   Status: no signature\n", 1);
    const auto tools = tools::ToolSet::withPrograms({{tools::spctlPath, spctl.program()},
                                                     {tools::codesignPath, codesign.program()},
                                                     {tools::pkgutilPath, pkgutil.program()}});
    const QString path = "-odd \"path\" with blanks.app";

    const SignatureTexts app = runSignatureTools(tools, true, path);
    EXPECT_EQ(spctl.arguments(), QStringList({"-a", "-vv", path}));
    EXPECT_EQ(codesign.arguments(), QStringList({"-dvvv", path}));
    EXPECT_EQ(app.assessmentText, "⛔️ spctl error 3\nx: rejected\nsource=no usable signature\n\n");
    EXPECT_EQ(app.signatureText, "Executable=x\nflags=0x10000(runtime)\n");
    EXPECT_FALSE(pkgutil.ran());

    const SignatureTexts pkg = runSignatureTools(tools, false, path);
    EXPECT_EQ(spctl.arguments(), QStringList({"-a", "-vv", "-t", "install", path}));
    EXPECT_EQ(pkgutil.arguments(), QStringList({"--check-signature", path}));
    EXPECT_EQ(pkg.signatureText, "⛔️ pkgutil error 1\nPackage \"x\":\n   Status: no signature\n\n");
}

TEST(RunSignatureToolsTest, MissingToolsStillEndTheRun) {
    const auto tools = tools::ToolSet::withPrograms({{tools::spctlPath, "/nonexistent/spctl"},
                                                     {tools::codesignPath, "/nonexistent/codesign"}});
    const SignatureTexts texts = runSignatureTools(tools, true, "/x.app");
    EXPECT_TRUE(texts.assessmentText.startsWith("⛔️ spctl error "));
    EXPECT_TRUE(texts.signatureText.startsWith("⛔️ codesign error "));
    const CheckStates f = signatureFindings(texts);
    EXPECT_EQ(f.get(Check::isHardenedCheck), false);
}

}  // namespace
