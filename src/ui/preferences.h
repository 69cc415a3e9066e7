#pragma once

#include <QString>
#include <QVariant>

namespace varko::preferences {

/// The user's settings for Varko. On macOS they are the user defaults of the bundle's own
/// identifier, where `defaults write example.varko.Varko noUpdateCheck -bool YES` puts them,
/// read and written through Core Foundation as AppKit does: QSettings names its domain after
/// the organization instead, and rewrites one whose top level it does not know. Elsewhere
/// they are QSettings' file for the application. Values are booleans, numbers, texts and
/// lists of texts.
[[nodiscard]] QVariant value(const QString& key, const QVariant& fallback = {});
void setValue(const QString& key, const QVariant& value);
void remove(const QString& key);

}  // namespace varko::preferences
