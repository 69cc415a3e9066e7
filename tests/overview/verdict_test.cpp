// The verdict: accepted, rejected or can't tell, and what it says while answers arrive.
#include <gtest/gtest.h>

#include <QJsonDocument>

#include "overview/components.h"
#include "overview/datafile.h"
#include "overview/overviewjson.h"
#include "overview/verdict.h"

namespace varko::overview {
namespace {

using Kind = GatekeeperAnswer::Kind;
constexpr PlatformChecks mac{true, true};
constexpr PlatformChecks offline{false, false};

Overview signedApp(bool hardened = true) {
    Overview o;
    o.isApp = true;
    Component main;
    main.path = "Contents/MacOS/App";
    main.identity.codeFound = true;
    main.identity.signature = SignatureForm::cms;
    main.identity.teamIdentifier = "TEAM123456";
    main.identity.hardenedRuntime = hardened;
    Component kit = main;
    kit.kind = ComponentKind::framework;
    kit.path = "Contents/Frameworks/Kit.framework";
    kit.parent = 0;
    o.components = {main, kit};
    return o;
}

/// A check whose files are as signed exactly when it is valid.
ComponentCheck checkOf(Signer signer, bool valid, std::string reason = {}) {
    ComponentCheck check;
    check.signer = signer;
    check.valid = check.intact = valid;
    check.reason = check.integrityReason = reason;
    return check;
}

/// All a verdict says, to compare with a data file: its fields as varko-report gives them,
/// whether it is complete, then each line with its state and the exact words behind it.
std::string said(const Verdict& v) {
    std::string out =
        QJsonDocument(verdictJson(v)).toJson(QJsonDocument::Compact).toStdString() + "\n";
    out += "complete: " + std::to_string(v.complete) + ", pending: " + std::to_string(v.pending) +
           ", signer trusted: " + std::string(triName(v.signerTrusted)) + "\n";
    for (const VerdictLine& l : v.lines())
        out += l.label + " (" + std::string(triName(l.state)) + "): " + l.text +
               (l.detail.empty() ? "" : " [" + l.detail + "]") + "\n";
    return out + "\n";
}

TEST(Verdict, FillsInAsTheAnswersArrive) {
    Overview o = signedApp();
    std::string out = said(judge(true, &o, std::nullopt, offline));
    const GatekeeperAnswer accepted{Kind::accepted, "", "Developer ID",
                                    "Developer ID Application: Example (TEAM123456)"};
    o.components[0].check = checkOf(Signer::developerId, true);
    o.components[1].check = checkOf(Signer::adhoc, true);
    o.components[1].flags = {"adhoc"};
    out += said(judge(true, &o, accepted, offline));
    o.components[0].flags = {"team-mismatch"};
    out += said(judge(true, &o, accepted, offline));
    varko::testing::expectDataFile(out, "verdict-fills-in.txt");
}

// Tampered: the seal's own words, a pointer's rest away. Ad hoc: nothing vouches for it;
// the source line is the reason. Unsigned.
TEST(Verdict, EachKindOfRejectionSaysWhy) {
    Overview o = signedApp(false);
    const struct {
        std::string reason, source;
        ComponentCheck check;
    } cases[] = {
        {"a sealed resource is missing or invalid", "Developer ID",
         checkOf(Signer::untrusted, false, "a sealed resource is missing or invalid")},
        {"", "no usable signature", checkOf(Signer::adhoc, true)},
        {"", "no usable signature",
         checkOf(Signer::unsigned_, false, "code object is not signed at all")},
    };
    std::string out;
    for (const auto& c : cases) {
        o.components[0].check = o.components[1].check = c.check;
        out += said(
            judge(true, &o, GatekeeperAnswer{Kind::rejected, c.reason, c.source, {}}, offline));
    }
    // A package that is no installer package is rejected for that, whatever a tool answered;
    // the same words on an app's reading change nothing.
    const Error broken{0, "malformed xar archive (no xar! magic)", ErrorCode::malformed};
    for (const auto& answer :
         {std::optional<GatekeeperAnswer>(), std::optional(GatekeeperAnswer{})})
        out += said(judge(false, nullptr, answer, offline, broken));
    // A signature that is there but can't be read names nobody: not "unsigned".
    o.components[0].identity.signature = SignatureForm::unreadable;
    o.components[0].check = checkOf(Signer::unsigned_, false, "truncated or malformed object");
    out += said(judge(true, &o,
                      GatekeeperAnswer{Kind::rejected, "truncated or malformed object", "", {}},
                      offline));
    // What was read tells nothing more: the tool's words alone.
    o.components[0].identity.signature = SignatureForm::cms;
    o.components[0].check = checkOf(Signer::developerId, true);
    out += said(judge(
        true, &o, GatekeeperAnswer{Kind::rejected, "Unnotarized Developer ID", "", {}}, offline));
    out += said(judge(true, &o, GatekeeperAnswer{}, offline, broken));
    varko::testing::expectDataFile(out, "verdict-rejections.txt");
}

// Gatekeeper's answer may come from its cache, kept by a code directory that the change left
// as it was. Where only the bundle around the code changed, the code's own claims stand; cut
// short at the hashing bound, it proves neither.
TEST(Verdict, CodeThatDoesNotMatchItsSignatureVouchesForNoSigner) {
    const std::string leaf = "Developer ID Application: Example (TEAM123456)";
    Overview o = signedApp();
    ComponentCheck tampered = checkOf(Signer::developerId, false,
                                      "page 0 of the code does not "
                                      "match its hash");
    tampered.leafName = leaf;
    tampered.codeMatches = false;
    ComponentCheck resealed = tampered;
    resealed.codeMatches = true;
    ComponentCheck cut = checkOf(Signer::developerId, false, "not checked: more than 1 MiB");
    cut.unchecked = true;
    o.components[1].check = checkOf(Signer::developerId, true);
    std::string out;
    for (const GatekeeperAnswer& answer :
         {GatekeeperAnswer{Kind::accepted, "", "Developer ID", leaf},
          GatekeeperAnswer{Kind::rejected, "page 0", "Developer ID", {}}}) {
        for (const ComponentCheck& main : {tampered, resealed, cut}) {
            o.components[0].check = main;
            out += said(judge(true, &o, answer, offline));
        }
    }
    varko::testing::expectDataFile(out, "verdict-code-changed.txt");
}

// Checking until every piece has answered; then no while a piece is not as signed or part of
// the app could not be read.
TEST(Verdict, SealedClaimsEveryPieceOnlyOnceEachHasAnsweredAsSigned) {
    Overview o = signedApp();
    o.components[0].check = checkOf(Signer::developerId, true);
    std::string out = said(judge(true, &o, std::nullopt, offline));
    o.components[1].check = checkOf(Signer::unsigned_, false, "code object is not signed at all");
    out += said(judge(true, &o, std::nullopt, offline));
    o.components[1].check = checkOf(Signer::developerId, true);
    o.problems = {"a folder could not be read: Contents/Helpers/locked (Permission denied)"};
    out += said(judge(true, &o, std::nullopt, offline));
    o.problems.clear();
    out += said(judge(true, &o, std::nullopt, offline));
    varko::testing::expectDataFile(out, "verdict-sealed.txt");
}

// Here, notarization and revocation need Apple's servers; the system's own assessment knows
// both; a tool that gave no answer of its own leaves everything it decides unknown.
TEST(Verdict, WhatThisComputerCannotCheckIsCantTellNeverNo) {
    Overview o = signedApp();
    const GatekeeperAnswer developerId{Kind::accepted, "", "Developer ID", "Developer ID X"};
    const GatekeeperAnswer notarized{Kind::accepted, "", "Notarized Developer ID", "X"};
    std::string out = said(judge(true, &o, developerId, offline));
    out += said(judge(true, &o, developerId, mac));
    out += said(judge(true, &o, notarized, mac));
    out += said(judge(true, &o, GatekeeperAnswer{}, mac));
    varko::testing::expectDataFile(out, "verdict-platform.txt");
}

TEST(Verdict, NamesFromTheBundleAreShownWithTheirControlCharacters) {
    Overview o = signedApp();
    o.components[0].identity.teamIdentifier = "T\nSealed: yes";
    const GatekeeperAnswer rejected{Kind::rejected, "bad\u202eevil", "Developer ID", {}};
    for (const VerdictLine& line : judge(true, &o, rejected, offline).lines()) {
        EXPECT_EQ(line.text.find('\n'), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("\u202e"), std::string::npos) << line.text;
    }
    // A package has no components, and its verdict is Gatekeeper's alone.
    const GatekeeperAnswer plain{Kind::rejected, "no usable signature", "Developer ID", {}};
    varko::testing::expectDataFile(said(judge(false, nullptr, plain, offline)),
                                   "verdict-package.txt");
}

}  // namespace
}  // namespace varko::overview
