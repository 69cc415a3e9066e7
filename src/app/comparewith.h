#pragma once

#include "app/storyboard.h"

namespace varko {

class DocumentWindowController;

/// Makes an inspection window's File › Compare With… work: it asks for the other version in
/// the Open dialog and opens a "Changes" window from the window's item to the one chosen,
/// made by `storyboard`.
void addCompareWith(DocumentWindowController& window, const Storyboard& storyboard);

}  // namespace varko
