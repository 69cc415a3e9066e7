#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <vector>

class QAbstractItemModel;

namespace varko {

/// The rows a view shows, in its order, as the exports need them: the item's path, then
/// every column's text as exported (headers first), and each item's whole JSON object.
struct ShownRows {
    QStringList header;
    std::vector<QStringList> cells;
    std::vector<QJsonObject> objects;
};

/// Reads the rows of `shown`, a view's model over an `ApplicationsModel` (the filter, or
/// the model itself).
[[nodiscard]] ShownRows shownRows(const QAbstractItemModel& shown);

/// CSV as RFC 4180 writes it (CRLF line ends, fields quoted when they hold a comma,
/// quote or line break). A cell that a spreadsheet would take for a formula (starting
/// with =, +, -, @, a tab or a carriage return) gets a leading apostrophe.
[[nodiscard]] QByteArray csvOf(const ShownRows& rows);

/// One compact JSON object per line, each ending in a line feed.
[[nodiscard]] QByteArray jsonLinesOf(const ShownRows& rows);

}  // namespace varko
