#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "support/faketool.h"

namespace {

const QString binDir = QStringLiteral(VARKO_BIN_DIR);
const QString example = binDir + "/../examples/Example.app";

struct CliRun {
    int status;
    QByteArray out, err;
};

CliRun varkoReport(const QStringList& args) {
    QProcess p;
    p.start(binDir + "/varko-report", args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

TEST(VarkoReportTest, ExampleReportShowsItsFindings) {
    const CliRun r = varkoReport({example});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QString text = QString::fromUtf8(r.out);
    EXPECT_TRUE(text.startsWith("App path: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("app ID: com.example.varko.Example\n"));
    EXPECT_TRUE(text.contains("NSCameraUsageDescription : "));
    EXPECT_TRUE(text.contains("NSBluetoothAlwaysUsageDescription : "));
    EXPECT_TRUE(text.contains("com.apple.security.device.audio-input : 1\n"));
    EXPECT_TRUE(text.contains("com.apple.private.tcc.allow : (\n    kTCCServiceCamera,\n"));
    EXPECT_TRUE(text.contains("\nApp signature check:\n"));
    EXPECT_TRUE(text.contains("\ncodesign check:\n"));
    EXPECT_TRUE(text.endsWith("\n"));
}

TEST(VarkoReportTest, JsonCarriesTheRecordTheChecksAndTheWholeText) {
    const CliRun text = varkoReport({example});
    const CliRun r = varkoReport({"--json", example});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_TRUE(doc.isArray());
    ASSERT_EQ(doc.array().size(), 1);
    const QJsonObject o = doc.array().first().toObject();
    EXPECT_EQ(o["type"].toString(), "com.apple.application-bundle");
    EXPECT_TRUE(o["isApp"].toBool());
    EXPECT_FALSE(o["isPackage"].toBool());
    EXPECT_EQ(o["bundleID"].toString(), "com.example.varko.Example");
    EXPECT_EQ(o["sdk"].toString(), "macosx11.1");
    EXPECT_TRUE(o["pubMike"].toBool());
    EXPECT_FALSE(o["pubCamera"].toBool());
    EXPECT_TRUE(o["privCamera"].toBool());
    EXPECT_TRUE(o["privLiverpool"].toBool());
    const QJsonObject checks = o["checks"].toObject();
    EXPECT_EQ(checks.size(), 34);
    EXPECT_TRUE(checks["tensixteenCheck"].toBool());
    EXPECT_TRUE(checks["cameraCheck"].toBool());
    EXPECT_TRUE(checks["pubMicrophoneCheck"].toBool());
    EXPECT_FALSE(checks["locationCheck"].toBool());
    for (const char* key : {"path", "version", "build", "usageStrings", "entitleList", "assessmentText",
                            "signatureText", "report", "mike", "aevent"})
        EXPECT_TRUE(o[key].isString()) << key;
    EXPECT_EQ(o["report"].toString(), QString::fromUtf8(text.out));
}

TEST(VarkoReportTest, BadItemsAreNamedAndTheRestStillProcessed) {
    QTemporaryDir dir;
    QFile notes(dir.filePath("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();
    const QString missing = dir.filePath("gone.app");
    const CliRun r = varkoReport({"--json", missing, example, notes.fileName()});
    EXPECT_EQ(r.status, 2);
    const QString err = QString::fromUtf8(r.err);
    EXPECT_TRUE(err.contains(missing)) << err.toStdString();
    EXPECT_TRUE(err.contains(notes.fileName()));
    const QJsonDocument doc = QJsonDocument::fromJson(r.out);
    ASSERT_EQ(doc.array().size(), 1);

    EXPECT_EQ(varkoReport({}).status, 2);
}

TEST(VarkoReportTest, HostileTextsStayValidJson) {
    QTemporaryDir dir;
    const QString app = varko::testing::makeBundle(
        dir, "Q\"uote\\s.app",
        varko::testing::xmlPlist("<key>CFBundleIdentifier</key><string>\"}]\\u0000\n\t😀</string>\n"
                                 "<key>NSCameraUsageDescription</key><string>&lt;/script&gt;\"</string>\n"));
    const CliRun r = varkoReport({"--json", app});
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    const QJsonObject o = doc.array().first().toObject();
    EXPECT_EQ(o["camera"].toString(), "</script>\"");
    EXPECT_TRUE(o["bundleID"].toString().contains("😀"));
    EXPECT_TRUE(o["path"].toString().endsWith("Q\"uote\\s.app"));
}

}  // namespace
