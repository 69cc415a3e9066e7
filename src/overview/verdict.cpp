#include "overview/verdict.h"

#include <QString>
#include <algorithm>

#include "tools/utf8.h"

namespace varko::overview {

namespace {

std::string shown(const std::string& text) {
    return host::visibleControls(QString::fromStdString(text)).toStdString();
}

// What only Apple's servers tell; said by name in notChecked.
constexpr const char* notarizationWord = "notarization";
constexpr const char* revocationWord = "revocation";
constexpr const char* needsServers = "Can't tell: needs Apple's servers";

bool trusted(Signer signer) {
    return signer == Signer::developerId || signer == Signer::apple || signer == Signer::appStore;
}

/// Who the signature names, whatever the code says of it.
std::string claimedName(const ComponentCheck& check) {
    if (check.leafName) return *check.leafName;
    if (trusted(check.signer)) return std::string(signerTitle(check.signer));
    if (check.signer == Signer::untrusted) return "a certificate that isn't trusted";
    return check.signer == Signer::adhoc ? "ad hoc" : "unsigned";
}

void judgeSigner(Verdict& v, const Overview* overview,
                 const std::optional<GatekeeperAnswer>& gatekeeper) {
    const Component* main =
        overview && !overview->components.empty() ? &overview->components.front() : nullptr;
    if (main) v.teamIdentifier = main->identity.teamIdentifier;
    const ComponentCheck* check = main && main->check ? &*main->check : nullptr;
    // A signature vouches for code only while the code matches it: the CMS over an
    // untouched code directory still names its signer after a page has been changed.
    if (check && check->signer != Signer::unsigned_ && (check->unchecked || !check->intact)) {
        v.signer = "claims " + claimedName(*check) + "; " +
                   (check->unchecked     ? check->reason
                    : check->codeMatches ? "the app does not match its signature"
                                         : "the code does not match its signature");
        v.signerTrusted = check->unchecked ? Tri::unknown : Tri::no;
        return;
    }
    // Only a chain Gatekeeper trusts names who signed; anything else is what the code says.
    if (gatekeeper && gatekeeper->kind == GatekeeperAnswer::Kind::accepted && gatekeeper->origin) {
        v.signer = *gatekeeper->origin;
        v.signerTrusted = Tri::yes;
        return;
    }
    // A signature that is there but can't be read names nobody, yet it is no absent one.
    if (main && main->identity.signature == SignatureForm::unreadable) {
        v.signer = "can't tell: the signature can't be read";
        v.signerTrusted = Tri::no;
        v.teamIdentifier.reset();
        return;
    }
    if (check) {
        v.signerTrusted = trusted(check->signer) ? Tri::yes : Tri::no;
        v.signer = claimedName(*check);
        return;
    }
    if (main && main->identity.codeFound && main->identity.signature == SignatureForm::none) {
        v.signer = "unsigned";
        v.signerTrusted = Tri::no;
    } else if (main && main->identity.codeFound &&
               main->identity.signature == SignatureForm::adhoc) {
        v.signer = "ad hoc";
        v.signerTrusted = Tri::no;
    }
    if (v.signer.empty())
        v.signer = !main && gatekeeper ? "not told by Gatekeeper; see the report" : "not yet known";
}

/// Whether every file and piece of code is as signed: the app's own seal, then every piece
/// the walk found, then what the walk could not look at. Yes only once all have answered.
void judgeSeal(Verdict& v, const Overview& overview) {
    const Component& main = overview.components.front();
    if (!main.check) return;
    const ComponentCheck& own = *main.check;
    if (own.unchecked) {
        v.sealReason = own.reason;
        return;
    }
    if (!own.intact) {
        v.sealed = Tri::no;
        v.sealReason = own.integrityReason;
        v.sealInWords = own.signer == Signer::unsigned_ ? "No: it is not signed"
                        : own.codeMatches ? "No: some files of the app are not as signed"
                                          : "No: its code does not match its signature";
        return;
    }
    if (!overview.problems.empty()) {
        v.sealed = Tri::no;
        v.sealReason = overview.problems.front();
        v.sealInWords = "No: part of the app could not be read, so it can't be vouched for";
        return;
    }
    for (std::size_t i = 1; i < overview.components.size(); ++i) {
        const Component& c = overview.components[i];
        if (!c.check || c.check->intact) continue;
        const std::string& why =
            c.check->integrityReason.empty() ? c.check->reason : c.check->integrityReason;
        if (c.check->unchecked) {
            v.sealReason = c.path + ": " + why;
            continue;
        }
        v.sealed = Tri::no;
        v.sealReason = c.path + ": " + why;
        v.sealInWords = "No: a piece of code inside is not as signed";
        return;
    }
    if (v.pending == 0 && v.sealReason.empty()) v.sealed = Tri::yes;
}

/// Why an app was rejected, in words a user acts on, from what was read of it; empty where
/// that tells nothing, and the tool's own reason stands alone.
std::string rejectionInWords(const Overview* overview) {
    if (!overview || overview->components.empty()) return {};
    const Component& main = overview->components.front();
    if (main.identity.signature == SignatureForm::unreadable)
        return "the signature can't be read: the file is damaged or not a Mac program";
    if (main.identity.codeFound && main.identity.signature == SignatureForm::none)
        return "it is not signed";
    const ComponentCheck* check = main.check ? &*main.check : nullptr;
    if (!check || check->unchecked) return {};
    if (check->signer == Signer::unsigned_) return "it is not signed";
    if (!check->intact)
        return check->codeMatches ? "some files of the app are not as signed"
                                  : "its code does not match its signature";
    if (check->signer == Signer::adhoc) return "it is signed ad hoc: no developer vouches for it";
    if (check->signer == Signer::untrusted)
        return "it is signed by a certificate that isn't trusted";
    return {};
}

}  // namespace

std::string_view stateName(Verdict::State state) {
    switch (state) {
        case Verdict::State::accepted:
            return "accepted";
        case Verdict::State::rejected:
            return "rejected";
        case Verdict::State::unknown:
            break;
    }
    return "unknown";
}

std::string_view triName(Tri tri) {
    return tri == Tri::yes ? "yes" : tri == Tri::no ? "no" : "unknown";
}

Verdict judge(bool isApp, const Overview* overview,
              const std::optional<GatekeeperAnswer>& gatekeeper, PlatformChecks platform,
              const std::optional<Error>& notAPackage) {
    Verdict v;
    using Kind = GatekeeperAnswer::Kind;
    if (!isApp && notAPackage) {
        v.state = Verdict::State::rejected;
        v.reason = "this is not a valid installer package: " + notAPackage->message;
        v.reasonInWords = "this is not an installer package, or it is damaged";
    } else if (!gatekeeper) {
        v.reason = "waiting for Gatekeeper's answer";
    } else if (gatekeeper->kind == Kind::accepted) {
        v.state = Verdict::State::accepted;
    } else if (gatekeeper->kind == Kind::rejected) {
        v.state = Verdict::State::rejected;
        v.reason = gatekeeper->reason.empty() ? gatekeeper->source : gatekeeper->reason;
        if (isApp) v.reasonInWords = rejectionInWords(overview);
    } else {
        v.reason = "the assessment gave no answer of its own; see the report";
    }
    judgeSigner(v, overview, gatekeeper);

    if (platform.notarization) {
        if (gatekeeper && gatekeeper->kind != Kind::noAnswer)
            v.notarization =
                gatekeeper->source.find("Notarized") != std::string::npos ? Tri::yes : Tri::no;
    } else {
        v.notChecked.emplace_back(notarizationWord);
    }
    if (platform.revocation) {
        if (v.state == Verdict::State::accepted) v.revocation = Tri::yes;
    } else {
        v.notChecked.emplace_back(revocationWord);
    }

    const bool haveCode = overview && !overview->components.empty();
    if (!isApp || !haveCode) {
        if (isApp && overview && overview->problem) v.sealReason = overview->problem->message;
        v.complete = gatekeeper.has_value() && (!isApp || overview != nullptr);
        return v;
    }
    const Component& main = overview->components.front();
    v.hardenedRuntime = main.identity.hardenedRuntime ? Tri::yes : Tri::no;
    if (main.check && main.identity.hardenedRuntime &&
        (main.check->unchecked || !main.check->codeMatches)) {
        v.hardenedRuntime = Tri::unknown;
        v.runtimeClaimed = true;
    }
    for (const Component& c : overview->components) {
        if (!c.flags.empty()) ++v.flagged;
        if (!c.check && c.identity.codeFound) ++v.pending;
    }
    judgeSeal(v, *overview);
    if (overview->componentsCut) v.notChecked.emplace_back("components past the walk's bound");
    v.complete = gatekeeper.has_value() && v.pending == 0;
    return v;
}

std::vector<VerdictLine> Verdict::lines() const {
    std::vector<VerdictLine> out;
    const auto add = [&out](Tri state, std::string label, std::string text,
                            std::string detail = {}) {
        out.push_back({state, std::move(label), std::move(text), std::move(detail)});
    };
    switch (state) {
        case State::accepted:
            add(Tri::yes, "Gatekeeper", "Accepted");
            break;
        case State::rejected:
            if (reasonInWords.empty() || reasonInWords == reason)
                add(Tri::no, "Gatekeeper", "Rejected: " + shown(reason));
            else
                add(Tri::no, "Gatekeeper", "Rejected because " + reasonInWords,
                    "Rejected: " + shown(reason));
            break;
        case State::unknown:
            add(Tri::unknown, "Gatekeeper", "Can't tell: " + shown(reason));
            break;
    }
    std::string who = shown(signer);
    // A Developer ID certificate's name ends in its team already.
    if (teamIdentifier && !signer.ends_with("(" + *teamIdentifier + ")"))
        who += " (Team ID " + shown(*teamIdentifier) + ")";
    add(signerTrusted, "Signed by", who);
    if (runtimeClaimed)
        add(Tri::unknown, "Hardened runtime",
            "Claimed by the signature; the code does not match it");
    else if (hardenedRuntime != Tri::unknown)
        add(hardenedRuntime, "Hardened runtime", hardenedRuntime == Tri::yes ? "On" : "Off");
    if (sealed == Tri::yes)
        add(Tri::yes, "Sealed", "Every file and piece of code is as signed");
    else if (sealed == Tri::no)
        add(Tri::no, "Sealed", sealInWords.empty() ? "No: something is not as signed" : sealInWords,
            shown(sealReason));
    else if (!sealReason.empty())
        add(Tri::unknown, "Sealed", shown(sealReason));
    else if (hardenedRuntime != Tri::unknown)
        add(Tri::unknown, "Sealed", "Checking…");
    const auto unchecked = [&](const char* what) {
        return std::find(notChecked.begin(), notChecked.end(), what) != notChecked.end();
    };
    add(notarization, "Notarized",
        notarization == Tri::yes      ? "Yes"
        : notarization == Tri::no     ? "No"
        : unchecked(notarizationWord) ? needsServers
                                      : "Can't tell");
    if (revocation == Tri::yes)
        add(Tri::yes, "Revocation", "Checked by Gatekeeper");
    else if (unchecked(revocationWord))
        add(Tri::unknown, "Revocation", needsServers);
    if (flagged > 0 || pending > 0) {
        std::string text;
        if (flagged > 0)
            text = std::to_string(flagged) + (flagged == 1 ? " deserves" : " deserve") +
                   " a look (see Components)";
        if (pending > 0)
            text += (text.empty() ? "" : "; ") + std::to_string(pending) + " still being checked";
        add(flagged > 0 ? Tri::no : Tri::unknown, "Components", text);
    }
    std::string others;
    for (const std::string& what : notChecked)
        if (what != notarizationWord && what != revocationWord)
            others += (others.empty() ? "" : "; ") + what;
    if (!others.empty()) add(Tri::unknown, "Not checked", others);
    return out;
}

}  // namespace varko::overview
