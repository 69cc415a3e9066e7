#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include "overview/overview.h"
#include "overview/verdict.h"

namespace varko::overview {

/// The `verdict` key of an item: state, reason, signer, teamIdentifier, notarization, …
[[nodiscard]] QJsonObject verdictJson(const Verdict& verdict);
/// The `components` key: one object per component.
[[nodiscard]] QJsonArray componentsJson(const Overview& overview);
/// The `privacyServices` key: one object per service used.
[[nodiscard]] QJsonArray servicesJson(const Overview& overview);

}  // namespace varko::overview
