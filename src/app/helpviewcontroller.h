#pragma once

#include <QLabel>
#include <QScrollArea>
#include <QTimer>
#include <memory>
#include <vector>

#include "format/expected.h"

namespace Poppler {
class Document;
}

namespace varko {

/// A PDF view that scales the pages to its width: each page is drawn for the
/// current width, and again after the view is resized.
class PdfView final : public QScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PdfView)
public:
    explicit PdfView(QWidget* parent = nullptr);
    ~PdfView() override;

    /// Shows `document`, or nothing for null.
    void setDocument(std::shared_ptr<Poppler::Document> document);
    [[nodiscard]] int pageCount() const;
    /// The pages as drawn, for tests and screenshots.
    [[nodiscard]] const std::vector<QLabel*>& pageLabels() const { return pages; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void render();

    std::shared_ptr<Poppler::Document> document;
    QWidget* canvas = nullptr;
    std::vector<QLabel*> pages;
    QTimer rerender;
    int renderedWidth = 0;
};

/// The help window's content: the help document, scaled to the view.
class HelpViewController final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpViewController)
public:
    explicit HelpViewController(QWidget* parent = nullptr);

    /// The help document last loaded; none until the view is first shown.
    std::shared_ptr<Poppler::Document> thePDFDocument;
    PdfView* helpPDFView = nullptr;

    /// Reads "VarkoHelp.pdf" afresh and shows it. A missing file leaves the view as
    /// it is; one that Poppler can't open or that is locked empties it.
    Expected<void> loadHelpDocument();

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace varko
