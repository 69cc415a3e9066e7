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
/// One grant of a privacy database: authorization, reason, lastModified, client, target,
/// codeRequirement, and whether it holds for this build.
[[nodiscard]] QJsonObject grantJson(const privacy::Grant& grant);
/// The `privacyServices` key: one object per service used, or granted; with `granted`
/// when a privacy database was read.
[[nodiscard]] QJsonArray servicesJson(const Overview& overview);

}  // namespace varko::overview
