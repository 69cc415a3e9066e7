#pragma once

// What the tests of the command-line programs share: the example app, varko-report run as a
// user runs it, and JSON held against a JSON text of what must be in it.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "fixtures/componentbundle.h"
#include "support/faketool.h"
#include "support/programrun.h"

namespace varko::testing {

inline const QString example = QStringLiteral(VARKO_BIN_DIR "/../examples/Example.app");

inline ProgramRun varkoReport(const QStringList& arguments, int timeoutMs = 60000) {
    return runTool("varko-report", arguments, timeoutMs);
}

/// `app` written into `folder` (made when missing) and signed by `pki`; its path, or empty.
inline QString writeApp(const QString& folder, const examplegen::ComponentApp& app,
                        const examplegen::TestPki& pki) {
    QDir().mkpath(folder);
    const auto written = examplegen::writeComponentApp(folder.toStdString(), app, pki);
    EXPECT_TRUE(written) << app.name << ": " << written.error().message;
    return written ? QString::fromStdString(written->string()) : QString();
}

/// The example app copied to `path`, with the folders above it made.
inline void copyExample(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QProcess cp;
    cp.start("cp", {"-R", example, path});
    ASSERT_TRUE(cp.waitForFinished(60000) && cp.exitCode() == 0) << path.toStdString();
}

/// varko-report run with signature tools beside it that crash, as it finds its tools.
inline ProgramRun reportWithCrashingTools(const QStringList& arguments) {
    const FakeTools tools;
    if (!QFile::copy(VARKO_BIN_DIR "/varko-report", tools.path("varko-report"))) return {};
    for (const char* tool : {"varko-codesign", "varko-spctl", "varko-pkgutil"})
        tools.script(tool, "kill -ABRT $$");
    return runTool(tools.path("varko-report"), arguments);
}

/// Holds `json` against the shipped schema for `kind` ("items", "lines", "comparison").
inline void expectSchemaValid(const QString& kind, const QByteArray& json) {
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("out.json"), json));
    QProcess p;
    p.start("python3", {VARKO_SOURCE_DIR "/tests/cli/validatejson.py",
                        VARKO_SOURCE_DIR "/resources/schema", kind, dir.filePath("out.json")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString()
                               << p.readAllStandardError().toStdString();
}

/// The entry of an item's privacyServices for `service`.
inline QJsonObject serviceOf(const QJsonObject& item, const QString& service) {
    for (const QJsonValue s : item["privacyServices"].toArray())
        if (s["service"] == service) return s.toObject();
    return {};
}

/// The first item of varko-report's --json output.
inline QJsonObject firstItem(const QByteArray& out) {
    return QJsonDocument::fromJson(out).array().first().toObject();
}

inline std::string jsonText(const QJsonValue& v) {
    return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).toStdString();
}

/// Each key of `expected` has its value in `actual`; objects are held to this key by key, so
/// that what is not named may be anything, and anything else must be equal.
inline void expectHas(const QJsonValue& actual, const QJsonValue& expected,
                      const std::string& at = "") {
    if (actual.isUndefined()) {
        ADD_FAILURE() << at << " is missing";
    } else if (expected.isObject() && actual.isObject()) {
        const QJsonObject o = expected.toObject();
        for (auto i = o.begin(); i != o.end(); ++i)
            expectHas(actual[i.key()], i.value(), at + "/" + i.key().toStdString());
    } else {
        EXPECT_EQ(jsonText(actual), jsonText(expected)) << at;
    }
}

/// The same with `expected` a JSON text.
inline void expectHas(const QJsonValue& actual, const char* expected) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(expected, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << expected;
    expectHas(actual, doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object()));
}

/// The same with `expected` in the data file `name`.
inline void expectHasFile(const QJsonValue& actual, const char* name) {
    SCOPED_TRACE(name);
    expectHas(actual, testData(name).constData());
}

}  // namespace varko::testing
