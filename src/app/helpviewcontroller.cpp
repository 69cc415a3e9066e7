#include "app/helpviewcontroller.h"

#include <poppler-qt6.h>

#include <QShowEvent>
#include <QVBoxLayout>

#include "app/resources.h"

namespace varko {

PdfView::PdfView(QWidget* parent) : QScrollArea(parent) {
    canvas = new QWidget;
    auto* layout = new QVBoxLayout(canvas);
    layout->setSpacing(12);
    layout->setContentsMargins(12, 12, 12, 12);
    setWidget(canvas);
    setWidgetResizable(true);
    setBackgroundRole(QPalette::Dark);
    // Drawing pages is slow; a drag of the window edge draws them once at the end.
    rerender.setSingleShot(true);
    rerender.setInterval(120);
    connect(&rerender, &QTimer::timeout, this, &PdfView::render);
}

PdfView::~PdfView() = default;

void PdfView::setDocument(std::shared_ptr<Poppler::Document> doc) {
    document = std::move(doc);
    if (document) {
        document->setRenderHint(Poppler::Document::Antialiasing);
        document->setRenderHint(Poppler::Document::TextAntialiasing);
    }
    renderedWidth = 0;
    render();
}

int PdfView::pageCount() const {
    return document ? document->numPages() : 0;
}

void PdfView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (viewport()->width() != renderedWidth) rerender.start();
}

void PdfView::render() {
    for (QLabel* label : pages) delete label;
    pages.clear();
    if (!document) return;
    const int width = std::max(200, viewport()->width() - 24);
    renderedWidth = viewport()->width();
    const qreal ratio = devicePixelRatioF();
    // A help document has a few pages; a hostile one is cut short.
    const int count = std::min(document->numPages(), 200);
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<Poppler::Page> page = document->page(i);
        if (!page) continue;
        const QSizeF points = page->pageSizeF();
        if (points.width() <= 0) continue;
        const double dpi = std::clamp(72.0 * width / points.width() * ratio, 10.0, 600.0);
        QImage image = page->renderToImage(dpi, dpi);
        if (image.isNull()) continue;
        image.setDevicePixelRatio(ratio);
        auto* label = new QLabel(canvas);
        label->setPixmap(QPixmap::fromImage(image));
        label->setAlignment(Qt::AlignHCenter);
        label->setAccessibleName(tr("Page %1").arg(i + 1));
        canvas->layout()->addWidget(label);
        pages.push_back(label);
    }
}

HelpViewController::HelpViewController(QWidget* parent) : QWidget(parent) {
    helpPDFView = new PdfView(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(helpPDFView);
}

void HelpViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A help that can't be shown leaves an empty window; the user has nothing to act on.
    if (!event->spontaneous()) (void)loadHelpDocument();
}

Expected<void> HelpViewController::loadHelpDocument() {
    const Expected<QString> path = resourcePath(QStringLiteral("VarkoHelp.pdf"));
    if (!path) return path.error();
    std::shared_ptr<Poppler::Document> document(Poppler::Document::load(*path).release());
    if (!document || document->isLocked()) {
        thePDFDocument.reset();
        helpPDFView->setDocument(nullptr);
        return Error{0,
                     document ? "the help document is locked" : "the help document can't be read",
                     document ? ErrorCode::unsupported : ErrorCode::malformed};
    }
    thePDFDocument = document;
    helpPDFView->setDocument(document);
    return {};
}

}  // namespace varko
