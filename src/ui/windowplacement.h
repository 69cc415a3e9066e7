#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class QWidget;

namespace varko {

/// Room kept free around a window's contents for the window manager's frame; its
/// size is not known before the window is first shown.
inline constexpr QMargins frameAllowance{8, 36, 8, 8};
/// How far each new window sits below and right of the one before.
inline constexpr int cascadeStep = 28;

/// Where a new window goes on a screen whose area without panels is `available`: the
/// returned frame rectangle (contents plus `frameAllowance`) holds `preferred` where it
/// fits and what fits otherwise. The first window is centred; a later one sits a step
/// below and right of `previous` (the top-left of the window before it), and goes back
/// to the top-left of `available` when it would run off it.
[[nodiscard]] QRect placeWindow(const QRect& available, QSize preferred,
                                std::optional<QPoint> previous);

/// Sizes and places a window that is about to be shown on the screen it opens on (the
/// active window's, else the one under the pointer), cascading from the last window
/// placed there.
void fitToScreen(QWidget& window, QSize preferred);

}  // namespace varko
