#include "report/ui/scriptsview.h"

#include <QFontDatabase>
#include <QListWidget>
#include <QPlainTextEdit>

#include "tools/utf8.h"

namespace varko {

namespace {

QString fromBytes(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

/// Control characters made visible, except the line breaks and tabs a script is made of.
QString scriptText(const std::string& bytes) {
    QStringList lines = fromBytes(bytes).split(u'\n');
    for (QString& line : lines)
        line = host::visibleControls(line.replace(u'\t', QStringLiteral("    ")));
    return lines.join(u'\n');
}

}  // namespace

ScriptsView::ScriptsView(QWidget* parent)
    : QSplitter(Qt::Horizontal, parent),
      names(new QListWidget(this)),
      text(new QPlainTextEdit(this)) {
    names->setObjectName("scriptsList");
    text->setObjectName("scriptText");
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setPlaceholderText(tr("The package has no install scripts."));
    setStretchFactor(1, 3);
    connect(names, &QListWidget::currentRowChanged, this, &ScriptsView::show);
}

void ScriptsView::setScripts(const package::PackageContents& contents) {
    // Set here, for packages alone: loading a second font costs every app window's start.
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    names->clear();
    texts.clear();
    for (const package::ComponentPackage& c : contents.components)
        for (const package::PackageScript& s : c.scripts) {
            QString title = host::visibleControls(fromBytes(s.name));
            if (!c.name.empty()) title = host::visibleControls(fromBytes(c.name)) + " › " + title;
            names->addItem(title);
            QString body = scriptText(s.text);
            if (s.cut)
                body += tr("\n\n[Only the first %1 bytes of %2 are shown.]")
                            .arg(s.text.size())
                            .arg(s.size);
            texts.push_back(body);
        }
    names->setVisible(!texts.empty());
    if (!texts.empty())
        names->setCurrentRow(0);
    else
        text->clear();
}

void ScriptsView::show(int row) {
    if (row >= 0 && std::size_t(row) < texts.size()) text->setPlainText(texts[std::size_t(row)]);
}

}  // namespace varko
