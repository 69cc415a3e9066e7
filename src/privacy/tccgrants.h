#pragma once

// What a privacy database granted one item: its rows for the item's bundle identifier or
// path, each with whether the code requirement stored beside it holds for this build.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "privacy/tccdatabase.h"
#include "signing/trust.h"

namespace varko::privacy {

/// Whether the code that a grant was made to is this build, by the grant's csreq.
enum class BuildMatch {
    thisBuild,          ///< the requirement holds for every slice
    signedDifferently,  ///< it fails for a slice: macOS would not honour the grant
    undecided,          ///< it turns on what can't be known here (`note` says what)
    undecodable,        ///< the stored requirement is no requirement Varko can read
    noRequirement,      ///< the row holds none: any code of that identifier or path
};

/// One row for the item, judged.
struct Grant {
    TccRow row;
    BuildMatch match = BuildMatch::noRequirement;
    std::string requirementText;  ///< the csreq as codesign prints it; empty when none
    std::string note;             ///< why it is undecided or undecodable
};

/// Who the item is to a privacy database.
struct GrantedItem {
    std::string bundleIdentifier;  ///< CFBundleIdentifier; empty for a bare executable
    std::filesystem::path executable;
    std::vector<Grant> grants;  ///< in the database's order
};

/// The rows of `db` for the item at `path` (a bundle, or an executable), matched by bundle
/// identifier (client_type 0) or by the item's or its main executable's absolute path
/// (client_type 1), each csreq checked against the item's signature with `appleRoots` as
/// Apple's roots at `now`. Fails only when the item's code can't be found at all.
[[nodiscard]] Expected<GrantedItem> grantsFor(const TccDatabase& db,
                                              const std::filesystem::path& path,
                                              const signing::TrustAnchors& appleRoots,
                                              std::int64_t now);

/// "allowed", "denied", "limited", "unknown", or the number for another value.
[[nodiscard]] std::string authorizationName(std::int64_t authValue);
/// How the grant came about, in words ("the user answered a prompt"); the number for an
/// unknown one.
[[nodiscard]] std::string reasonText(std::int64_t authReason);
/// "granted to this build", "granted to code signed differently", and so on; for a denial,
/// what the requirement says of the build is phrased for a denial.
[[nodiscard]] std::string matchText(const Grant& grant);
/// The whole grant in a line: "allowed (the user answered a prompt, 2024-03-01 12:00:00 UTC):
/// granted to this build", with the receiver of Apple events and a client named by path.
[[nodiscard]] std::string grantText(const Grant& grant);
/// "thisBuild", "signedDifferently", … as JSON names them.
[[nodiscard]] std::string matchName(BuildMatch match);
/// Seconds since 1970 as "2024-03-01 12:00:00 UTC".
[[nodiscard]] std::string utcText(std::int64_t seconds);

}  // namespace varko::privacy
