#include <gtest/gtest.h>

#include <tuple>

#include "overview/datafile.h"
#include "report/signaturechecks.h"
#include "support/faketool.h"
#include "tools/pathbytes.h"

using namespace varko;
using varko::testing::dataCases;
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
    for (const QList<QByteArray>& c : dataCases("transcripts.txt")) {
        SCOPED_TRACE(c.join('|').toStdString());
        EXPECT_EQ(transcript("⛔️ codesign error ", finished(c[0].toInt(), c[1], c[2])),
                  QString::fromUtf8(c[3]));
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
    for (const QList<QByteArray>& c : dataCases("spctl-sources.txt")) {
        SCOPED_TRACE(c[1].toStdString());
        const QByteArray f = c[2];
        expectFindings(
            signatureFindings(path, true, finished(c[0].toInt(), "", path.toUtf8() + ": " + c[1]),
                              noSignature),
            {f[0] == '1', f[1] == '1', f[2] == '1', f[3] == '1', f[4] == '1'});
    }
}

TEST(SignatureFindingsTest, TextTheItemControlsCannotTickASource) {
    for (const QList<QByteArray>& c : dataCases("spctl-untrusted-text.txt")) {
        SCOPED_TRACE(c[2].toStdString());
        expectFindings(signatureFindings(QString::fromUtf8(c[0]), true,
                                         finished(c[1].toInt(), "", c[2]), noSignature),
                       {false, false, false, false, false});
    }
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
    const auto fields = [](const Answer& a) {
        return std::tie(a.kind, a.reason, a.source, a.origin);
    };
    for (const QList<QByteArray>& c : dataCases("spctl-answers.txt")) {
        const QString path = c.size() > 6 ? QString::fromUtf8(c[6]) : QStringLiteral("/a.app");
        const QByteArray err = path.toUtf8() + ": " + c[1];
        SCOPED_TRACE(err.toStdString());
        const Answer expected{c[2] == "accepted"   ? Answer::Kind::accepted
                              : c[2] == "rejected" ? Answer::Kind::rejected
                                                   : Answer::Kind::noAnswer,
                              c[3].toStdString(), c[4].toStdString(),
                              c[5].isEmpty() ? std::nullopt : std::optional(c[5].toStdString())};
        EXPECT_EQ(fields(readAssessment(path, finished(c[0].toInt(), "", err))), fields(expected));
    }
}

TEST(SignatureFindingsTest, HardenedRuntimeComesFromTheOneCodeDirectoryLine) {
    const host::ToolResult accepted = finished(0, "", "/x.app: accepted\nsource=Developer ID\n");
    for (const QList<QByteArray>& c : dataCases("codesign-hardened.txt")) {
        SCOPED_TRACE(c[2].toStdString());
        EXPECT_EQ(
            signatureFindings("/x.app", c[1] == "app", accepted, finished(c[0].toInt(), "", c[2]))
                .isOn(Check::isHardenedCheck),
            c[3] == "1");
    }
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
