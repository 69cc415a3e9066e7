#pragma once

#include <QJsonObject>

#include "package/payload.h"

namespace varko {

/// What a package would install, as varko-report's JSON gives it: `installLocation` (the
/// components' one, null when they differ), `components` (identifier, version, location),
/// `files` and `scripts` of every component, `apps` (the app bundles among the files), and
/// `problems` with `cut` when a bound stopped the listing.
[[nodiscard]] QJsonObject payloadJson(const package::PackageContents& contents);

/// The app bundles a payload would install: each entry that is a folder named .app and not
/// inside another one, in listing order.
[[nodiscard]] std::vector<std::string> payloadApps(const package::PackageContents& contents);

}  // namespace varko
