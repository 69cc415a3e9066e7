#pragma once

#include <QString>

namespace varko {

inline constexpr auto applicationBundleType = "com.apple.application-bundle";
inline constexpr auto installerPackageType = "com.apple.installer-package-archive";

/// The document type of an item, or why it can't be opened.
struct ItemType {
    QString typeName;  ///< empty when refused
    QString error;     ///< what to tell the user when refused

    [[nodiscard]] bool accepted() const { return !typeName.isEmpty(); }
};

/// Maps an item to its type as the platform's document controller does: a folder
/// whose name ends in `.app` is an app bundle, a regular file whose name ends in
/// `.pkg` an installer package (suffixes compared ignoring case); anything else
/// is refused.
[[nodiscard]] ItemType itemTypeForPath(const QString& path);

}  // namespace varko
