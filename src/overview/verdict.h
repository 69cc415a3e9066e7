#pragma once

#include <optional>
#include <string>
#include <vector>

#include "overview/overview.h"

namespace varko::overview {

/// Every finding of the verdict is one of three: it holds, it doesn't, or it can't be told
/// (not checked here, not answered yet, or the check gave no answer).
enum class Tri { yes, no, unknown };

/// Gatekeeper's answer on the item, read from the assessment tool's own lines.
struct GatekeeperAnswer {
    enum class Kind { accepted, rejected, noAnswer };
    Kind kind = Kind::noAnswer;
    std::string reason;                 ///< in parentheses after the verdict; may be empty
    std::string source;                 ///< the `source=` value
    std::optional<std::string> origin;  ///< the `origin=` value: the leaf's name
};

/// What this platform can check at all: notarization and revocation need Apple's servers
/// and the system's own assessment.
struct PlatformChecks {
    bool notarization = false;
    bool revocation = false;
};

/// One line of the verdict bar.
struct VerdictLine {
    Tri state = Tri::unknown;
    std::string label;  ///< "Signed by", "Gatekeeper", …
    std::string text;   ///< in plain words
    /// The exact reason behind plain words, as the check gave it; empty when `text` is it.
    std::string detail;
};

/// The verdict on an app or package: read before anything else.
struct Verdict {
    enum class State { accepted, rejected, unknown };
    State state = State::unknown;
    std::string reason;  ///< why it was rejected, or why it can't be told
    /// The rejection in plain words, where what was read of the app tells its cause;
    /// `reason` keeps the exact words.
    std::string reasonInWords;
    std::string signer;  ///< the leaf's name, "ad hoc", "unsigned" or "not yet known"
    std::optional<std::string> teamIdentifier;
    /// Whether a chain the rules trust names the signer.
    Tri signerTrusted = Tri::unknown;
    Tri notarization = Tri::unknown;
    Tri revocation = Tri::unknown;
    Tri hardenedRuntime = Tri::unknown;
    /// The code directory asks for the hardened runtime, but the code does not match its
    /// signature: the claim is the signature's, not the code's.
    bool runtimeClaimed = false;
    Tri sealed = Tri::unknown;
    std::string sealReason;
    std::string sealInWords;  ///< what `sealReason` means, when the seal is broken
    /// Components that deserve a look, and how many are still being verified.
    std::size_t flagged = 0;
    std::size_t pending = 0;
    /// What could not be checked, in words.
    std::vector<std::string> notChecked;
    /// Whether every answer it waits for has come.
    bool complete = false;

    /// The bar's lines, most important first; texts have their control characters shown.
    [[nodiscard]] std::vector<VerdictLine> lines() const;
};

/// "accepted", "rejected", "unknown" and "yes", "no", "unknown" as the JSON output says.
[[nodiscard]] std::string_view stateName(Verdict::State state);
[[nodiscard]] std::string_view triName(Tri tri);

/// The verdict from what is known so far: the overview (null until read; for a package
/// there is none), Gatekeeper's answer (none until it came), and what the platform checks.
/// A package whose own reading failed (`notAPackage`: no installer package at all, or a
/// broken one) is rejected for that, whatever the tools said.
[[nodiscard]] Verdict judge(bool isApp, const Overview* overview,
                            const std::optional<GatekeeperAnswer>& gatekeeper,
                            PlatformChecks platform,
                            const std::optional<Error>& notAPackage = std::nullopt);

}  // namespace varko::overview
