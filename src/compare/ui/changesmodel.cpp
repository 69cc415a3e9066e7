#include "compare/ui/changesmodel.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

#include "tools/utf8.h"

namespace varko {

namespace {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

/// A disc in the severity's colour with as many bars as it is serious, so that the three
/// differ without their colours too.
QIcon severityIcon(compare::Severity severity) {
    const QColor color = severityColor(severity, isDark(QApplication::palette()));
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
        painter.setBrush(Qt::white);
        const int bars = 3 - int(severity);
        const qreal width = size / 8.0, gap = size / 16.0;
        const qreal total = bars * width + (bars - 1) * gap;
        for (int i = 0; i < bars; ++i)
            painter.drawRect(
                QRectF((size - total) / 2 + i * (width + gap), size * 0.28, width, size * 0.44));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString shown(const QString& value) {
    return value.isEmpty() ? QStringLiteral("—") : host::visibleControls(value);
}

}  // namespace

QColor severityColor(compare::Severity severity, bool darkPalette) {
    switch (severity) {
        case compare::Severity::high:
            return darkPalette ? QColor(0xff, 0x7b, 0x72) : QColor(0xb3, 0x1d, 0x1d);
        case compare::Severity::medium:
            return darkPalette ? QColor(0xf0, 0xb7, 0x2f) : QColor(0x9a, 0x56, 0x00);
        case compare::Severity::low:
            break;
    }
    return darkPalette ? QColor(0x79, 0xb8, 0xff) : QColor(0x1d, 0x5b, 0xa8);
}

QString severityWords(compare::Severity severity) {
    switch (severity) {
        case compare::Severity::high:
            return QObject::tr("High");
        case compare::Severity::medium:
            return QObject::tr("Medium");
        case compare::Severity::low:
            break;
    }
    return QObject::tr("Low");
}

ChangesModel::ChangesModel(QObject* parent) : QAbstractTableModel(parent) {}

void ChangesModel::setChanges(std::vector<compare::Change> changes) {
    beginResetModel();
    list = std::move(changes);
    endResetModel();
}

int ChangesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(list.size());
}

int ChangesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant ChangesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(list.size())) return {};
    const compare::Change& change = list[size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case severityColumn:
                return severityWords(change.severity);
            case changeColumn: {
                // The component has a column of its own.
                compare::Change titled = change;
                titled.component.clear();
                if (change.what == QLatin1String("component")) titled.key.clear();
                return compare::changeTitle(titled).trimmed();
            }
            case componentColumn:
                return host::visibleControls(change.component);
            case oldColumn:
                return shown(change.oldValue);
            case newColumn:
                return shown(change.newValue);
            default:
                return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == severityColumn) {
        static const QIcon icons[] = {severityIcon(compare::Severity::high),
                                      severityIcon(compare::Severity::medium),
                                      severityIcon(compare::Severity::low)};
        return icons[int(change.severity)];
    }
    if (role == Qt::ForegroundRole && index.column() == severityColumn)
        return severityColor(change.severity, isDark(QApplication::palette()));
    return {};
}

QVariant ChangesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case severityColumn:
            return tr("Severity");
        case changeColumn:
            return tr("Change");
        case componentColumn:
            return tr("Component");
        case oldColumn:
            return tr("Old");
        case newColumn:
            return tr("New");
        default:
            return {};
    }
}

}  // namespace varko
