#include "scan/ui/tableexport.h"

#include <QAbstractProxyModel>
#include <QJsonDocument>

#include "scan/ui/applicationsmodel.h"

namespace varko {

namespace {

void appendField(QByteArray& out, const QString& text) {
    QString field = text;
    if (!field.isEmpty() && QStringView(u"=+-@\t\r").contains(field.front())) field.prepend(u'\'');
    const bool quote = field.contains(u',') || field.contains(u'"') || field.contains(u'\n') ||
                       field.contains(u'\r');
    if (quote) {
        field.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        field = u'"' + field + u'"';
    }
    out += field.toUtf8();
}

void appendRecord(QByteArray& out, const QStringList& fields) {
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        appendField(out, fields[i]);
    }
    out += "\r\n";
}

}  // namespace

ShownRows shownRows(const QAbstractItemModel& shown) {
    ShownRows rows;
    const auto* proxy = qobject_cast<const QAbstractProxyModel*>(&shown);
    const auto* model = qobject_cast<const ApplicationsModel*>(
        proxy ? proxy->sourceModel() : static_cast<const QAbstractItemModel*>(&shown));
    // The whole path first: the name and folder columns alone can't be pasted anywhere.
    if (model) rows.header << ApplicationsModel::tr("Path");
    const int columns = shown.columnCount();
    for (int c = 0; c < columns; ++c)
        rows.header << shown.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    const int count = shown.rowCount();
    rows.cells.reserve(count);
    rows.objects.reserve(count);
    for (int r = 0; r < count; ++r) {
        const QModelIndex source =
            proxy ? proxy->mapToSource(shown.index(r, 0)) : shown.index(r, 0);
        QStringList cells;
        cells.reserve(columns + 1);
        if (model) cells << model->pathText(source.row());
        for (int c = 0; c < columns; ++c)
            cells << shown.index(r, c).data(ApplicationsModel::exportRole).toString();
        rows.cells.push_back(std::move(cells));
        if (model) rows.objects.push_back(model->item(source.row()).json);
    }
    return rows;
}

QByteArray csvOf(const ShownRows& rows) {
    QByteArray out;
    appendRecord(out, rows.header);
    for (const QStringList& cells : rows.cells) appendRecord(out, cells);
    return out;
}

QByteArray jsonLinesOf(const ShownRows& rows) {
    QByteArray out;
    for (const QJsonObject& object : rows.objects) {
        out += QJsonDocument(object).toJson(QJsonDocument::Compact);
        out += '\n';
    }
    return out;
}

}  // namespace varko
