#pragma once

// Long expected texts and tables of cases, kept in the test's data folder.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <fstream>
#include <string>
#include <vector>

#include "support/files.h"

namespace varko::testing {

/// The data file's text, less its lines that start with '#'.
inline std::string dataFile(const std::string& name) {
    std::ifstream in(VARKO_TEST_DATA "/" + name, std::ios::binary);
    std::string text;
    for (std::string line; std::getline(in, line);)
        if (!line.starts_with('#')) text += line + "\n";
    return text;
}

/// The cases of a data file: one a line, its fields split at '|' and trimmed, "\n" standing
/// for a line break; lines that start with '#' say what the cases are.
inline std::vector<QList<QByteArray>> dataCases(const char* name) {
    std::vector<QList<QByteArray>> rows;
    for (const QByteArray& line : testData(name).split('\n')) {
        if (line.isEmpty() || line.startsWith('#')) continue;
        QList<QByteArray> fields = line.split('|');
        for (QByteArray& field : fields) field = field.trimmed().replace("\\n", "\n");
        rows.push_back(fields);
    }
    EXPECT_FALSE(rows.empty()) << name;
    return rows;
}

/// A model as shown: a line a row, indented by its depth, its cells between " | ".
inline std::string modelText(const QAbstractItemModel& model, const QModelIndex& parent = {},
                             int depth = 0) {
    std::string out;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        out += std::string(std::size_t(depth) * 2, ' ');
        for (int column = 0; column < model.columnCount(parent); ++column)
            out += (column ? " | " : "") +
                   model.index(row, column, parent).data().toString().toStdString();
        out += "\n" + modelText(model, model.index(row, 0, parent), depth + 1);
    }
    return out;
}

/// Compares `actual` with the data file `name`; VARKO_UPDATE_GOLDEN=1 writes the file instead.
inline void expectDataFile(const std::string& actual, const char* name) {
    if (qEnvironmentVariableIsSet("VARKO_UPDATE_GOLDEN")) {
        ASSERT_TRUE(writeFile(QStringLiteral(VARKO_TEST_DATA "/") + name,
                              QByteArray::fromStdString(actual)));
    } else {
        EXPECT_EQ(actual, testData(name).toStdString()) << name;
    }
}

/// The same for JSON, as QJsonDocument lays it out.
inline void expectJsonFile(const QJsonArray& actual, const char* name) {
    expectDataFile(QJsonDocument(actual).toJson().toStdString(), name);
}

}  // namespace varko::testing
