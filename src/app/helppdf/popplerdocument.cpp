// Varko's help module: the only code that uses Poppler, so that only opening the help
// loads it.
#include <poppler-qt6.h>

#include "app/helpdocument.h"

namespace {

class PopplerDocument final : public varko::HelpDocument {
public:
    explicit PopplerDocument(std::unique_ptr<Poppler::Document> doc) : document(std::move(doc)) {
        document->setRenderHint(Poppler::Document::Antialiasing);
        document->setRenderHint(Poppler::Document::TextAntialiasing);
    }

    int pageCount() const override { return document->numPages(); }

    QSizeF pageSize(int page) const override {
        const std::unique_ptr<Poppler::Page> p = document->page(page);
        return p ? p->pageSizeF() : QSizeF();
    }

    QImage render(int page, double dpi) const override {
        const std::unique_ptr<Poppler::Page> p = document->page(page);
        return p ? p->renderToImage(dpi, dpi) : QImage();
    }

    QList<QRectF> search(int page, const QString& text) const override {
        const std::unique_ptr<Poppler::Page> p = document->page(page);
        return p ? p->search(text, Poppler::Page::IgnoreCase) : QList<QRectF>();
    }

    QString text(int page, const QRectF& area) const override {
        const std::unique_ptr<Poppler::Page> p = document->page(page);
        return p ? p->text(area) : QString();
    }

private:
    std::unique_ptr<Poppler::Document> document;
};

}  // namespace

extern "C" Q_DECL_EXPORT varko::HelpDocument* varkoOpenHelpDocument(const QString& path,
                                                                    int* status) {
    std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document || document->isLocked()) {
        *status = int(document ? varko::HelpDocumentStatus::locked
                               : varko::HelpDocumentStatus::unreadable);
        return nullptr;
    }
    *status = int(varko::HelpDocumentStatus::opened);
    return new PopplerDocument(std::move(document));
}
