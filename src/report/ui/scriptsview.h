#pragma once

#include <QSplitter>

#include "package/payload.h"

class QListWidget;
class QPlainTextEdit;

namespace varko {

/// A package's install scripts: a list of them beside the chosen one's text, read-only. The
/// scripts are shown, never run.
class ScriptsView final : public QSplitter {
    Q_OBJECT

public:
    explicit ScriptsView(QWidget* parent = nullptr);
    void setScripts(const package::PackageContents& contents);
    [[nodiscard]] QListWidget* list() const { return names; }
    [[nodiscard]] QPlainTextEdit* textView() const { return text; }

private:
    void show(int row);

    QListWidget* names;
    QPlainTextEdit* text;
    std::vector<QString> texts;
};

}  // namespace varko
