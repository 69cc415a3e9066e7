#include "ui/windowplacement.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace varko {

QRect placeWindow(const QRect& available, QSize preferred, std::optional<QPoint> previous) {
    const QSize frame = preferred.grownBy(frameAllowance).boundedTo(available.size());
    QRect placed(QPoint(), frame);
    if (!previous || !available.contains(*previous)) {
        placed.moveCenter(available.center());
        return placed;
    }
    placed.moveTopLeft(*previous + QPoint(cascadeStep, cascadeStep));
    if (!available.contains(placed)) placed.moveTopLeft(available.topLeft());
    return placed;
}

namespace {

QScreen* openingScreen() {
    if (const QWidget* active = QApplication::activeWindow())
        if (QScreen* screen = active->screen()) return screen;
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) return screen;
    return QGuiApplication::primaryScreen();
}

}  // namespace

void fitToScreen(QWidget& window, QSize preferred) {
    // The window placed last, to cascade from while it is still on screen.
    static QPointer<QWidget> last;
    const QScreen* screen = openingScreen();
    if (screen == nullptr) {
        window.resize(preferred);
        return;
    }
    const QRect available = screen->availableGeometry();
    std::optional<QPoint> previous;
    if (last && last != &window && last->isVisible() && last->screen() == screen)
        previous = last->frameGeometry().topLeft();
    const QRect frame = placeWindow(available, preferred, previous);
    window.resize(frame.marginsRemoved(frameAllowance).size());
    window.move(frame.topLeft());
    last = &window;
}

}  // namespace varko
