#pragma once

#include <QAbstractListModel>
#include <memory>
#include <vector>

#include "logs/logdisplay.h"

namespace varko::unifiedlog {

/// The log window's lines as a list model: one row per visual line of a
/// `LogDisplay`, whose indices it holds rather than text, so a million entries
/// redisplay at once. Every change resets the model.
///
/// Data: Qt::DisplayRole the line's text without its line feed; Qt::ForegroundRole
/// the fixed hue of its category (none for lines in the palette's text colour);
/// Qt::FontRole the fixed-pitch font of its first run; CategoryRole the entry's
/// `LogCategory` as an int (none for message lines); FontSizeRole the points of its
/// first run.
class LogLineModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogLineModel)
public:
    enum Role { CategoryRole = Qt::UserRole + 1, FontSizeRole };

    explicit LogLineModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index,
                                int role = Qt::DisplayRole) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    /// What the rows show, for the view's geometry and for saving.
    [[nodiscard]] const LogDisplay& display() const { return content; }
    /// The runs of row `row`, each in its own colour and size.
    [[nodiscard]] std::vector<LineSegment> segments(qsizetype row) const {
        return content.line(row);
    }

    /// Shows the entries of `list` that `filter` lets through.
    void showEntries(std::shared_ptr<const LogList> list, CategoryFilter filter, double fontSize);
    /// Shows `text` alone in the plain message style.
    void setMessage(const QString& text, double fontSize);
    /// Adds `text` in the plain message style after what is shown.
    void appendMessage(const QString& text, double fontSize);
    /// Shows nothing and lets go of the entries.
    void clear();

private:
    LogDisplay content;
};

}  // namespace varko::unifiedlog
