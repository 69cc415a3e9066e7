#pragma once

namespace varko {

class DocumentWindowController;

/// Makes an inspection window's File › Open Privacy Database… work: it asks for a privacy
/// database (a Mac's TCC.db, or a copy of one), reads it off the window's thread without
/// changing it, and shows in the Privacy tab what it grants the window's app. A database that
/// can't be read, Full Disk Access wanting on macOS among the reasons, is said in an alert.
void addOpenPrivacyDatabase(DocumentWindowController& window);

}  // namespace varko
