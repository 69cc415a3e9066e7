#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QString>

#include "overview/verdict.h"

namespace varko {

/// The colour that says a state: for text on the palette's window and base colours and for
/// the icon's disc, dark on light palettes and light on dark ones, so that it keeps a
/// contrast of 4.5:1 either way.
[[nodiscard]] QColor triColor(overview::Tri state, const QPalette& palette);

/// A disc in the state's colour with a check, a cross or a question mark, drawn at any size
/// so that it looks the same under every style and on high-density screens.
[[nodiscard]] QIcon triIcon(overview::Tri state, const QPalette& palette);

/// The state in words, for tooltips and assistive technology: "Yes", "No", "Can't tell".
[[nodiscard]] QString triWords(overview::Tri state);

/// The verdict's state in words: "Accepted", "Rejected", "Can't tell"; and as a Tri.
[[nodiscard]] QString verdictWords(overview::Verdict::State state);
[[nodiscard]] overview::Tri verdictTri(overview::Verdict::State state);

}  // namespace varko
