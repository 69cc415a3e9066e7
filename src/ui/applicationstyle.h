#pragma once

namespace varko {

/// Wraps the application's style, as chosen by the platform or -style, in one that reads
/// the menu bar's overflow icon from its file only when the button is first drawn. Every
/// menu bar asks for that icon as it is built, and reading it loads every image format
/// plug-in, while the button shows only in a window too narrow for its menus. Call once,
/// after the application object is made and before any widget is.
void useApplicationStyle();

}  // namespace varko
