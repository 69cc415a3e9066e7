#include <gtest/gtest.h>

#include <tuple>

#include "report/signaturechecks.h"
#include "support/faketool.h"
#include "tools/pathbytes.h"

using namespace varko;
using varko::testing::FakeTool;

namespace {

host::ToolResult finished(int status, QByteArray out, QByteArray err) {
    host::ToolResult r;
    r.started = true;
    r.exitStatus = status;
    r.standardOutput = std::move(out);
    r.standardError = std::move(err);
    return r;
}

TEST(TranscriptTest, JoinsStreamsOnSuccessAndFramesThemOnFailure) {
    const QString prefix = "⛔️ codesign error ";
    struct Case {
        int status;
        QByteArray out, err;
        QString expected;
    };
    const Case cases[] = {
        {0, "out", "err", "outerr"},
        {0, "", "", ""},
        {0, "", "Executable=/x\n", "Executable=/x\n"},
        {1, "", "x: code object is not signed at all",
         "⛔️ codesign error 1\nx: code object is not signed at all\n"},
        {3, "o", "e", "⛔️ codesign error 3\no\ne\n"},
        {-1, "", "", "⛔️ codesign error -1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_EQ(transcript(prefix, finished(c.status, c.out, c.err)), c.expected);
    }
}

TEST(TranscriptTest, SaysWhenAToolDidNotStartCrashedOrWroteNoText) {
    host::ToolResult notStarted;
    notStarted.startError = "The program /x could not be started: No such file or directory";
    const QString t = transcript("⛔️ spctl error ", notStarted);
    EXPECT_TRUE(t.startsWith("⛔️ spctl error ")) << t.toStdString();
    EXPECT_TRUE(t.contains(notStarted.startError));
    EXPECT_TRUE(t.endsWith("\n"));

    host::ToolResult crashed = finished(9, "source=Developer ID", "");
    crashed.crashed = true;
    EXPECT_EQ(transcript("P ", crashed),
              "P 9\nsource=Developer ID\n[The tool crashed (signal 9, killed).]\n");
    crashed.crashed = false;
    crashed.timedOut = true;
    EXPECT_TRUE(
        transcript("P ", crashed).endsWith("[The tool ran past its time limit and was ended.]\n"));

    const QString bad = transcript("P ", finished(0, QByteArray("caf\xe9", 4), ""));
    EXPECT_TRUE(bad.startsWith("caf\uFFFD"));
    EXPECT_TRUE(bad.contains("not valid UTF-8"));
}

struct Findings {
    bool notarized, apple, store, devID, hardened;
};

void expectFindings(const CheckStates& f, const Findings& e) {
    EXPECT_EQ(f.get(Check::isNotarizedCheck), e.notarized);
    EXPECT_EQ(f.get(Check::isAppleCheck), e.apple);
    EXPECT_EQ(f.get(Check::isAppStoreCheck), e.store);
    EXPECT_EQ(f.get(Check::isDevIDCheck), e.devID);
    EXPECT_EQ(f.get(Check::isHardenedCheck), e.hardened);
    EXPECT_FALSE(f.get(Check::cameraCheck).has_value());
}

const host::ToolResult noSignature = finished(1, "", "x: code object is not signed at all\n");

TEST(SignatureFindingsTest, SourceLineAfterTheVerdictDecidesTheFourSources) {
    const QString path = "/Applications/Some App.app";
    struct Case {
        int status;
        QByteArray err;
        Findings expected;
    };
    const Case cases[] = {
        {0,
         "accepted\nsource=Notarized Developer ID\norigin=Developer ID Application: A (T)\n",
         {true, false, false, false, false}},
        {0, "accepted\nsource=Developer ID\n", {false, false, false, true, false}},
        {0, "accepted\nsource=Apple System\n", {false, true, false, false, false}},
        {0, "accepted\nsource=Mac App Store\n", {false, false, true, false, false}},
        {3, "rejected\nsource=Unnotarized Developer ID\n", {false, false, false, false, false}},
        {3,
         "rejected (the code is valid but does not seem to be an app)\nsource=Developer ID\n",
         {false, false, false, true, false}},
        {0, "accepted\nSource=Apple\n", {false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err.toStdString());
        expectFindings(
            signatureFindings(path, true, finished(c.status, "", path.toUtf8() + ": " + c.err),
                              noSignature),
            c.expected);
    }
}

TEST(SignatureFindingsTest, TextTheItemControlsCannotTickASource) {
    const Findings none{false, false, false, false, false};
    const auto assess = [](const QString& path, int status, const QByteArray& rest) {
        return signatureFindings(path, true, finished(status, "", path.toUtf8() + rest),
                                 noSignature);
    };
    // A folder named after the findings, plainly rejected.
    const QString named =
        "/t/source=Notarized source=Apple source=Mac App source=Developer flags=0x1.app";
    expectFindings(assess(named, 3, ": rejected\nsource=no usable signature\n"), none);
    // A path whose line feeds write a source line of its own before the real one.
    const QString fed = "/t/a\nsource=Notarized Developer ID\n.app";
    expectFindings(assess(fed, 3, ": rejected\nsource=no usable signature\n"), none);
    // An error has no source line: whatever follows is not the tool's.
    expectFindings(assess(fed, 1, ": bundle format unrecognized, invalid, or unsuitable\n"), none);
    // A reason that names a nested path with a line feed leaves the source unknown.
    expectFindings(
        assess(
            "/t/b.app", 3,
            ": rejected (nested code is modified or invalid (Contents/x\nsource=Apple System\n))\n"
            "source=no usable signature\n"),
        none);
    // A verdict the exit status contradicts, or an answer about another path.
    expectFindings(assess("/t/c.app", 3, ": accepted\nsource=Developer ID\n"), none);
    expectFindings(signatureFindings("/t/c.app", true,
                                     finished(0, "", "/t/d.app: accepted\nsource=Developer ID\n"),
                                     noSignature),
                   none);
}

TEST(SignatureFindingsTest, APathThatIsNotUtf8IsMatchedByItsBytes) {
    const QByteArray bytes = "/t/\xff\xfe caf\xc3\xa9.app";
    const QString path = host::pathFromSystem(bytes);
    const CheckStates f = signatureFindings(
        path, true, finished(0, "", bytes + ": accepted\nsource=Developer ID\n"), noSignature);
    EXPECT_TRUE(f.isOn(Check::isDevIDCheck));
    // Another path that Qt's own decoding would make look the same is not this one.
    EXPECT_FALSE(
        signatureFindings(path, true,
                          finished(0, "",
                                   "/t/\xef\xbf\xbd\xef\xbf\xbd caf\xc3\xa9.app: accepted\n"
                                   "source=Developer ID\n"),
                          noSignature)
            .isOn(Check::isDevIDCheck));
}

TEST(SignatureFindingsTest, GatekeepersAnswerIsReadFromItsOwnLinesOnly) {
    using Answer = overview::GatekeeperAnswer;
    using Kind = Answer::Kind;
    const auto fields = [](const Answer& a) {
        return std::tie(a.kind, a.reason, a.source, a.origin);
    };
    struct Case {
        int status;
        QByteArray afterPath;  ///< what spctl writes after the path and a colon
        Answer answer;
        QString path = "/a.app";
    };
    const Case cases[] = {
        {0,
         "accepted\nsource=Notarized Developer ID\norigin=Developer ID Application: A (T)\n",
         {Kind::accepted, "", "Notarized Developer ID", "Developer ID Application: A (T)"}},
        {3,
         "rejected (the code is valid but does not seem to be an app)\nsource=Developer ID\n",
         {Kind::rejected, "the code is valid but does not seem to be an app", "Developer ID", {}}},
        {3,
         "rejected\nsource=no usable signature\n",
         {Kind::rejected, "", "no usable signature", {}}},
        // A path that writes a verdict of its own is skipped by its length.
        {3,
         "rejected\nsource=no usable signature\n",
         {Kind::rejected, "", "no usable signature", {}},
         "/x: accepted\nsource=Apple System\norigin=Apple\n/y.app"},
        // An exit status that disagrees, a reason over two lines, no source line.
        {3, "accepted\nsource=Developer ID\n", {}},
        {3, "rejected (one\ntwo)\nsource=x\n", {}},
        {3, "rejected\n", {}},
    };
    for (const Case& c : cases) {
        const QByteArray err = c.path.toUtf8() + ": " + c.afterPath;
        SCOPED_TRACE(err.toStdString());
        EXPECT_EQ(fields(readAssessment(c.path, finished(c.status, "", err))), fields(c.answer));
    }
}

TEST(SignatureFindingsTest, HardenedRuntimeComesFromTheOneCodeDirectoryLine) {
    const host::ToolResult accepted = finished(0, "", "/x.app: accepted\nsource=Developer ID\n");
    const auto hardened = [&](int status, const QByteArray& err, bool isApp = true) {
        return signatureFindings("/x.app", isApp, accepted, finished(status, "", err))
            .isOn(Check::isHardenedCheck);
    };
    const QByteArray head =
        "Executable=/x.app/Contents/MacOS/x\nIdentifier=com.example.x\nFormat=app bundle\n";
    for (const char* line : {"v=20500 size=1 flags=0x10000(runtime) hashes=3+7 location=embedded",
                             "v=20400 size=1 flags=0x10002(adhoc,runtime) hashes=3+2",
                             "v=20500 size=1 flags=0x12000(library-validation,runtime) hashes=1"}) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(hardened(0, head + "CodeDirectory " + line + "\n"));
    }
    for (const char* flags :
         {"0x0(none)", "0x2(adhoc)", "0x20000(linker-signed)", "0x12(adhoc,linker-signed)",
          "0x100(expires)", "0x1(host)", "0x", "zz"}) {
        SCOPED_TRACE(flags);
        EXPECT_FALSE(
            hardened(0, head + "CodeDirectory v=20500 size=1 flags=" + flags + " hashes=3+7\n"));
    }
    // An identifier that reads like the flags, or writes a second CodeDirectory line.
    EXPECT_FALSE(hardened(0,
                          "Executable=/x\nIdentifier=flags=0x10000(runtime)\n"
                          "CodeDirectory v=20500 size=1 flags=0x2(adhoc) hashes=3+7\n"));
    EXPECT_FALSE(
        hardened(0,
                 "Executable=/x\nIdentifier=a\nCodeDirectory v=20500 size=1 flags=0x10000(runtime) "
                 "hashes=1+0\nCodeDirectory v=20500 size=1 flags=0x2(adhoc) hashes=3+7\n"));
    // A failed display echoes the path, which may hold such a line.
    EXPECT_FALSE(hardened(1,
                          "/t/a\nCodeDirectory v=20500 flags=0x10000(runtime)\n: code object is "
                          "not signed at all\n"));
    // pkgutil prints no flags: a certificate name that looks like them ticks nothing.
    EXPECT_FALSE(hardened(
        0, "Package \"x.pkg\":\n   Status: signed\nCodeDirectory v=1 flags=0x10000(runtime)\n",
        false));
}

TEST(RunSignatureToolsTest, RunsTheRightToolsWithThePathAsOneArgument) {
    QTemporaryDir dir;
    FakeTool spctl(dir, "spctl"), codesign(dir, "codesign"), pkgutil(dir, "pkgutil");
    spctl.answer("", 3, "x: rejected\nsource=no usable signature\n");
    codesign.answer("", 0, "Executable=x\nflags=0x10000(runtime)\n");
    pkgutil.answer("Package \"x\":\n   Status: no signature\n", 1);
    const auto tools = host::ToolSet::withPrograms({{host::spctlPath, spctl.program()},
                                                    {host::codesignPath, codesign.program()},
                                                    {host::pkgutilPath, pkgutil.program()}});
    const QString path = "-odd \"path\" with blanks.app";

    const SignatureTexts app = runSignatureTools(tools, true, path);
    EXPECT_EQ(spctl.arguments(), QStringList({"-a", "-vv", path}));
    EXPECT_EQ(codesign.arguments(), QStringList({"-dvvv", path}));
    EXPECT_EQ(app.assessmentText,
              "⛔️ spctl error 3\nx: rejected\nsource=no usable signature\n\n");
    EXPECT_EQ(app.signatureText, "Executable=x\nflags=0x10000(runtime)\n");
    EXPECT_FALSE(pkgutil.ran());

    const SignatureTexts pkg = runSignatureTools(tools, false, path);
    EXPECT_EQ(spctl.arguments(), QStringList({"-a", "-vv", "-t", "install", path}));
    EXPECT_EQ(pkgutil.arguments(), QStringList({"--check-signature", path}));
    EXPECT_EQ(pkg.signatureText,
              "⛔️ pkgutil error 1\nPackage \"x\":\n   Status: no signature\n\n");
}

TEST(RunSignatureToolsTest, MissingToolsStillEndTheRun) {
    const auto tools = host::ToolSet::withPrograms(
        {{host::spctlPath, "/nonexistent/spctl"}, {host::codesignPath, "/nonexistent/codesign"}});
    const SignatureTexts texts = runSignatureTools(tools, true, "/x.app");
    EXPECT_TRUE(texts.assessmentText.startsWith("⛔️ spctl error "));
    EXPECT_TRUE(texts.signatureText.startsWith("⛔️ codesign error "));
    EXPECT_EQ(texts.findings.get(Check::isHardenedCheck), false);
    EXPECT_TRUE(texts.toolFailed);
}

}  // namespace
