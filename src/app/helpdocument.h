#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <memory>

#include "format/expected.h"

namespace varko {

/// A PDF document as the help window needs it: its pages' sizes, pictures, words and
/// text. Poppler reads it in a module of its own, loaded when the help is first shown,
/// so that starting Varko doesn't load Poppler and the dozen libraries it brings.
class HelpDocument {
public:
    HelpDocument() = default;
    virtual ~HelpDocument() = default;
    Q_DISABLE_COPY_MOVE(HelpDocument)

    [[nodiscard]] virtual int pageCount() const = 0;
    /// The size of page `page` in points; empty for a page that can't be read.
    [[nodiscard]] virtual QSizeF pageSize(int page) const = 0;
    /// Page `page` drawn at `dpi`, antialiased; null when it can't be drawn.
    [[nodiscard]] virtual QImage render(int page, double dpi) const = 0;
    /// Where `text` stands on page `page`, case ignored, in points.
    [[nodiscard]] virtual QList<QRectF> search(int page, const QString& text) const = 0;
    /// The text within `area` (points) of page `page`.
    [[nodiscard]] virtual QString text(int page, const QRectF& area) const = 0;
};

/// What the module's `varkoOpenHelpDocument` says besides the document it returns.
enum class HelpDocumentStatus { opened = 0, unreadable = 1, locked = 2 };

/// The module's one entry point: a new document the caller owns, or null with
/// `*status` saying why.
using OpenHelpDocumentFunction = HelpDocument* (*)(const QString& path, int* status);
inline constexpr const char* openHelpDocumentSymbol = "varkoOpenHelpDocument";

/// Loads the module beside the running program, once; missing when it isn't there or
/// can't be loaded.
[[nodiscard]] Expected<void> loadHelpModule();

/// Opens the PDF at `path` with the module beside the running program: missing when
/// the module isn't there or can't be loaded, malformed when Poppler can't read the
/// file, unsupported when it is locked.
[[nodiscard]] Expected<std::shared_ptr<HelpDocument>> openHelpDocument(const QString& path);

/// The module's file name, as the build names it.
[[nodiscard]] QString helpDocumentModuleName();

}  // namespace varko
