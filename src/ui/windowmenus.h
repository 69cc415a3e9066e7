#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <functional>

namespace varko {

/// What the items of a window's File, Edit and View menus do. An item without an
/// action is there but disabled, so that every window's menus read alike.
struct WindowActions {
    std::function<void()> close{}, save{}, compareWith{}, exportPrivacyProfile{};
    std::function<void()> copy{}, selectAll{}, find{}, findNext{}, findPrevious{};
    std::function<void()> bigger{}, smaller{}, actualSize{};
};

class FindBar;

/// Points the Edit menu's Find, Find Next and Find Previous at `bar`.
void findThrough(WindowActions& actions, FindBar* bar);

/// Adds the File, Edit and View menus to `bar` with the platform's standard keys; the
/// actions run with `context` as their receiver, so none runs after it has gone.
/// Returns the File menu, to which the application adds its own items.
QMenu* addStandardMenus(QMenuBar& bar, QObject& context, const WindowActions& actions);

/// The File menu's Export Privacy Profile… item in `bar`, for a window that enables it only
/// while it shows an app; null when the menus have none.
[[nodiscard]] QAction* exportPrivacyProfileItem(const QMenuBar& bar);

/// Gives a content window its own menus: Close closes the window, Save, Bigger and
/// Smaller go to `content`, and `more` adds what the window offers besides.
template <class Content>
QMenu* addWindowMenus(QMainWindow& window, Content* content, void (Content::*save)(),
                      void (Content::*bigger)(), void (Content::*smaller)(),
                      WindowActions more = {}) {
    more.close = [&window] { window.close(); };
    more.save = [content, save] { (content->*save)(); };
    more.bigger = [content, bigger] { (content->*bigger)(); };
    more.smaller = [content, smaller] { (content->*smaller)(); };
    return addStandardMenus(*window.menuBar(), *content, more);
}

}  // namespace varko
