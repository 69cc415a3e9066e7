#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

namespace varko {

/// The bar at the bottom of a window that finds text in what the window shows. It
/// only asks: the window searches on `findNext` and `findPrevious` and answers with
/// `setResult`. Return finds the next match, Shift+Return the previous, and Escape
/// hides the bar.
class FindBar final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FindBar)
public:
    explicit FindBar(QWidget* parent = nullptr);

    [[nodiscard]] QString text() const;
    [[nodiscard]] QLineEdit* field() const { return edit; }
    /// What the bar says about the last search: empty, or "Not found".
    [[nodiscard]] QString resultText() const;

public slots:
    /// Shows the bar with its text selected, ready for typing.
    void activate();
    /// Asks for the next match of the text; with no text yet, only shows the bar.
    void next();
    void previous();
    /// Whether the last search found a match.
    void setResult(bool found);
    /// Hides the bar, giving the keyboard back to the window.
    void dismiss();

signals:
    void findNext(const QString& text);
    void findPrevious(const QString& text);
    /// The bar was hidden by the user.
    void dismissed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* edit = nullptr;
    QLabel* result = nullptr;
};

}  // namespace varko
