#pragma once

// What the tests of the command-line programs share: the example app, varko-report run as a
// user runs it, and JSON held against a JSON text of what must be in it.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "support/programrun.h"

namespace varko::testing {

inline const QString example = QStringLiteral(VARKO_BIN_DIR "/../examples/Example.app");

inline ProgramRun varkoReport(const QStringList& arguments, int timeoutMs = 60000) {
    return runTool("varko-report", arguments, timeoutMs);
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

}  // namespace varko::testing
