#pragma once

// Privacy databases for the tests, written by Python's sqlite3 in the layouts macOS uses (see
// tests/privacy/maketcc.py), with csreqs compiled by our own requirement compiler.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <string>

#include "format/codesig/requirement.h"
#include "format/hex.h"

namespace varko::testing {

/// `spec` (see maketcc.py) written as the database `db`.
inline void writeTccDatabase(const QString& db, const QJsonObject& spec) {
    QProcess p;
    p.start("python3", {QStringLiteral(VARKO_SOURCE_DIR "/tests/privacy/maketcc.py"), db});
    p.write(QJsonDocument(spec).toJson());
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0)
        << p.readAllStandardError().toStdString();
}

/// The requirement `text` compiled, in hex as maketcc.py takes a csreq.
inline QString csreqHex(const std::string& text) {
    const auto blob = codesig::compileRequirement(text);
    EXPECT_TRUE(blob) << blob.error().message;
    if (!blob) return {};
    return QString::fromStdString(
        hex(std::span(reinterpret_cast<const std::uint8_t*>(blob->data()), blob->size())));
}

}  // namespace varko::testing
