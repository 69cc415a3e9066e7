#pragma once

#include <QLabel>
#include <QScrollArea>
#include <QTimer>
#include <memory>
#include <vector>

#include "app/helpdocument.h"
#include "format/expected.h"

namespace varko {

class FindBar;

/// A PDF view that scales the pages to its width: each page is drawn for the
/// current width, and again after the view is resized.
class PdfView final : public QScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PdfView)
public:
    explicit PdfView(QWidget* parent = nullptr);
    ~PdfView() override;

    /// Shows `document`, or nothing for null.
    void setDocument(std::shared_ptr<HelpDocument> document);
    [[nodiscard]] int pageCount() const;
    /// The pages as drawn, for tests and screenshots.
    [[nodiscard]] const std::vector<QLabel*>& pageLabels() const { return pages; }

    /// Marks the next (or previous) place where `text` stands, case ignored, after the
    /// one marked last, going round past the end, and scrolls it into view. False when
    /// the text is nowhere in the document.
    bool find(const QString& text, bool backward = false);
    /// Where the marked place is: its page and its rectangle in points on that page;
    /// page -1 when none is marked.
    [[nodiscard]] std::pair<int, QRectF> markedMatch() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Match {
        int page;
        QRectF rect;  ///< in points
    };
    void render();
    void showMatch(bool scroll);
    void unmark();

    std::shared_ptr<HelpDocument> document;
    QWidget* canvas = nullptr;
    std::vector<QLabel*> pages;
    /// For each label: the page it shows and its pixels per point.
    std::vector<std::pair<int, double>> pageScales;
    QTimer rerender;
    int renderedWidth = 0;

    QString searched;
    std::vector<Match> matches;
    qsizetype current = -1;
    /// The label that shows the mark, and its picture without it.
    QLabel* markedLabel = nullptr;
    QPixmap unmarked;
};

/// The help window's content: the help document, scaled to the view, and a find bar.
class HelpViewController final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpViewController)
public:
    explicit HelpViewController(QWidget* parent = nullptr);

    /// The help document last loaded; none until the view is first shown.
    std::shared_ptr<HelpDocument> thePDFDocument;
    PdfView* helpPDFView = nullptr;
    FindBar* findBar = nullptr;

    /// Reads "VarkoHelp.pdf" afresh and shows it. A missing file or help module leaves
    /// the view as it is; a file that can't be read or that is locked empties it.
    Expected<void> loadHelpDocument();

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace varko
