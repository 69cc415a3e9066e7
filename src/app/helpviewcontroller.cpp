#include "app/helpviewcontroller.h"

#include <QPainter>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/erroralert.h"
#include "app/resources.h"
#include "ui/findbar.h"

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

void PdfView::setDocument(std::shared_ptr<HelpDocument> doc) {
    document = std::move(doc);
    searched.clear();
    matches.clear();
    current = -1;
    renderedWidth = 0;
    render();
}

int PdfView::pageCount() const {
    return document ? document->pageCount() : 0;
}

void PdfView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (viewport()->width() != renderedWidth) rerender.start();
}

void PdfView::render() {
    for (QLabel* label : pages) delete label;
    pages.clear();
    pageScales.clear();
    markedLabel = nullptr;
    if (!document) return;
    const int width = std::max(200, viewport()->width() - 24);
    renderedWidth = viewport()->width();
    const qreal ratio = devicePixelRatioF();
    // A help document has a few pages; a hostile one is cut short.
    const int count = std::min(document->pageCount(), 200);
    for (int i = 0; i < count; ++i) {
        const QSizeF points = document->pageSize(i);
        if (points.width() <= 0) continue;
        const double dpi = std::clamp(72.0 * width / points.width() * ratio, 10.0, 600.0);
        QImage image = document->render(i, dpi);
        if (image.isNull()) continue;
        image.setDevicePixelRatio(ratio);
        auto* label = new QLabel(canvas);
        label->setPixmap(QPixmap::fromImage(image));
        label->setAlignment(Qt::AlignHCenter);
        label->setAccessibleName(tr("Page %1").arg(i + 1));
        canvas->layout()->addWidget(label);
        pages.push_back(label);
        pageScales.emplace_back(i, dpi / 72.0 / ratio);
    }
    if (current >= 0) showMatch(false);
}

bool PdfView::find(const QString& text, bool backward) {
    if (!document || text.isEmpty()) return false;
    if (text != searched) {
        searched = text;
        matches.clear();
        current = -1;
        // The help has a few pages; a bound keeps a hostile one from filling memory.
        constexpr qsizetype mostMatches = 10000;
        for (const auto& [page, scale] : pageScales) {
            for (const QRectF& rect : document->search(page, text))
                if (qsizetype(matches.size()) < mostMatches) matches.push_back({page, rect});
        }
    }
    if (matches.empty()) {
        unmark();
        return false;
    }
    const auto count = qsizetype(matches.size());
    if (current < 0)
        current = backward ? count - 1 : 0;
    else
        current = (current + (backward ? count - 1 : 1)) % count;
    showMatch(true);
    return true;
}

std::pair<int, QRectF> PdfView::markedMatch() const {
    if (current < 0 || current >= qsizetype(matches.size())) return {-1, {}};
    return {matches[std::size_t(current)].page, matches[std::size_t(current)].rect};
}

void PdfView::unmark() {
    if (markedLabel) markedLabel->setPixmap(unmarked);
    markedLabel = nullptr;
}

void PdfView::showMatch(bool scroll) {
    unmark();
    const Match& match = matches[std::size_t(current)];
    std::size_t index = 0;
    while (index < pageScales.size() && pageScales[index].first != match.page) ++index;
    if (index == pageScales.size()) return;
    QLabel* label = pages[index];
    const double scale = pageScales[index].second;
    const QRectF area(match.rect.left() * scale, match.rect.top() * scale,
                      match.rect.width() * scale, match.rect.height() * scale);
    markedLabel = label;
    unmarked = label->pixmap();
    QPixmap marked = unmarked;
    {
        QPainter painter(&marked);
        QColor colour = palette().color(QPalette::Highlight);
        colour.setAlpha(110);
        painter.fillRect(area.adjusted(-2, -2, 2, 2), colour);
    }
    label->setPixmap(marked);
    if (!scroll) return;
    canvas->layout()->activate();
    // The page is centred in its label.
    const double left = (label->width() - unmarked.deviceIndependentSize().width()) / 2;
    const QPointF centre = QPointF(label->pos()) + QPointF(left, 0) + area.center();
    ensureVisible(int(centre.x()), int(centre.y()), 40, viewport()->height() / 3);
}

HelpViewController::HelpViewController(QWidget* parent) : QWidget(parent) {
    helpPDFView = new PdfView(this);
    findBar = new FindBar(this);
    connect(findBar, &FindBar::findNext, this,
            [this](const QString& text) { findBar->setResult(helpPDFView->find(text)); });
    connect(findBar, &FindBar::findPrevious, this,
            [this](const QString& text) { findBar->setResult(helpPDFView->find(text, true)); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(helpPDFView);
    layout->addWidget(findBar);
}

void HelpViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (const Expected<void> module = loadHelpModule(); !module) {
        // An incomplete installation, which the user can mend: say what is missing.
        const QString explanation = tr("Varko's help viewer (%1) is missing or can't be loaded.")
                                        .arg(helpDocumentModuleName());
        QTimer::singleShot(0, this, [explanation] { showErrorAlert(explanation); });
        return;
    }
    // A help that can't be shown leaves an empty window; the user has nothing to act on.
    (void)loadHelpDocument();
}

Expected<void> HelpViewController::loadHelpDocument() {
    const Expected<QString> path = resourcePath(QStringLiteral("VarkoHelp.pdf"));
    if (!path) return path.error();
    Expected<std::shared_ptr<HelpDocument>> document = openHelpDocument(*path);
    if (!document) {
        if (document.error().code != ErrorCode::missing) {
            thePDFDocument.reset();
            helpPDFView->setDocument(nullptr);
        }
        return document.error();
    }
    thePDFDocument = *document;
    helpPDFView->setDocument(thePDFDocument);
    return {};
}

}  // namespace varko
