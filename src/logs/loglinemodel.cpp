#include "logs/loglinemodel.h"

#include <QGuiApplication>
#include <QPalette>
#include <limits>

namespace varko::unifiedlog {

LogLineModel::LogLineModel(QObject* parent) : QAbstractListModel(parent) {}

int LogLineModel::rowCount(const QModelIndex& parent) const {
    // Rows are an int to Qt; a log that passes that many lines shows its first ones.
    if (parent.isValid()) return 0;
    return int(std::min<qsizetype>(content.lineCount(), std::numeric_limits<int>::max()));
}

QVariant LogLineModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const qsizetype row = index.row();
    switch (role) {
        case Qt::DisplayRole: {
            QString text;
            for (const LineSegment& s : content.line(row)) text += s.text;
            return text;
        }
        case Qt::ForegroundRole: {
            const std::vector<LineSegment> runs = content.line(row);
            if (runs.empty() || runs.front().colour == LineColour::Text) return {};
            // Views paint on their own palette; without one the application's stands.
            const QColor base = qGuiApp ? QGuiApplication::palette().base().color() : QColor();
            return resolveColour(runs.front().colour, QColor(), base.isValid() ? base : Qt::white);
        }
        case Qt::FontRole:
        case FontSizeRole: {
            const std::vector<LineSegment> runs = content.line(row);
            const double size = runs.empty() ? content.entryFontSize() : runs.front().fontSize;
            return role == FontSizeRole ? QVariant(size) : QVariant(lineFont(size));
        }
        case CategoryRole: {
            const std::optional<LogCategory> category = content.category(row);
            return category ? QVariant(int(*category)) : QVariant();
        }
        default:
            return {};
    }
}

QHash<int, QByteArray> LogLineModel::roleNames() const {
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(CategoryRole, "category");
    names.insert(FontSizeRole, "fontSize");
    return names;
}

void LogLineModel::showEntries(std::shared_ptr<const LogList> list, CategoryFilter filter,
                               double fontSize) {
    beginResetModel();
    content.showEntries(std::move(list), filter, fontSize);
    endResetModel();
}

void LogLineModel::setMessage(const QString& text, double fontSize) {
    beginResetModel();
    content.setMessage(text, fontSize);
    endResetModel();
}

void LogLineModel::appendMessage(const QString& text, double fontSize) {
    beginResetModel();
    content.appendMessage(text, fontSize);
    endResetModel();
}

void LogLineModel::clear() {
    beginResetModel();
    content = LogDisplay();
    endResetModel();
}

}  // namespace varko::unifiedlog
