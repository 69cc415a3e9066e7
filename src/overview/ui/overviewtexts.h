#pragma once

#include <QString>
#include <QStringList>
#include <string_view>

#include "overview/components.h"
#include "overview/overview.h"

namespace varko {

/// The window's own words for the overview's values, translatable, beside the model's
/// fixed names for the JSON output.
[[nodiscard]] QString componentKindText(overview::ComponentKind kind);
[[nodiscard]] QString signerText(overview::Signer signer);
/// What a signature claims before verification: "Unsigned", "Ad hoc", …
[[nodiscard]] QString signatureFormText(overview::SignatureForm form);

/// A component's flag ("unsigned", "team-mismatch", "risky-entitlement:KEY", …) briefly
/// for its column, and in a sentence for its tooltip. A flag this program doesn't know
/// shows as it is.
[[nodiscard]] QString flagTitle(std::string_view flag);
[[nodiscard]] QString flagDescription(std::string_view flag);

/// The services an app may use, in words and the table's order: "Camera (asks,
/// entitled), Local Network (asks)". Asks: it declares a usage description; entitled: it
/// holds the public entitlement; allowed without asking: a private allowance.
[[nodiscard]] QString mayUseText(const overview::Overview& overview);

/// Text a bundle controls, on one line with its control characters shown.
[[nodiscard]] QString shownText(std::string_view text);

/// A tooltip of plain lines: Qt takes a tooltip that looks like markup for rich text, so
/// a name such as "<img src=…>" must be escaped, never guessed at.
[[nodiscard]] QString plainToolTip(const QStringList& lines);

}  // namespace varko
