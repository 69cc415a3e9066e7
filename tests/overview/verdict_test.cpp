// The verdict: accepted, rejected or can't tell, and what it says while answers arrive.
#include <gtest/gtest.h>

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

std::string text(const Verdict& v, const std::string& label) {
    for (const VerdictLine& line : v.lines())
        if (line.label == label) return line.text;
    return "-";
}

/// The exact words behind the line's plain ones.
std::string detail(const Verdict& v, const std::string& label) {
    for (const VerdictLine& line : v.lines())
        if (line.label == label) return line.detail;
    return "-";
}

Tri state(const Verdict& v, const std::string& label) {
    for (const VerdictLine& line : v.lines())
        if (line.label == label) return line.state;
    return Tri::unknown;
}

TEST(Verdict, FillsInAsTheAnswersArrive) {
    Overview o = signedApp();
    Verdict v = judge(true, &o, std::nullopt, offline);
    EXPECT_EQ(v.state, Verdict::State::unknown);
    EXPECT_FALSE(v.complete);
    EXPECT_EQ(v.pending, 2u);
    EXPECT_EQ(state(v, "Signed by"), Tri::unknown);
    EXPECT_EQ(text(v, "Sealed"), "Checking…");
    EXPECT_EQ(text(v, "Hardened runtime"), "On");

    const GatekeeperAnswer accepted{Kind::accepted, "", "Developer ID",
                                    "Developer ID Application: Example (TEAM123456)"};
    o.components[0].check = checkOf(Signer::developerId, true);
    o.components[1].check = checkOf(Signer::adhoc, true);
    o.components[1].flags = {"adhoc"};
    v = judge(true, &o, accepted, offline);
    EXPECT_TRUE(v.complete);
    EXPECT_EQ(v.state, Verdict::State::accepted);
    EXPECT_EQ(text(v, "Gatekeeper"), "Accepted");
    EXPECT_EQ(text(v, "Signed by"), "Developer ID Application: Example (TEAM123456)");
    EXPECT_EQ(state(v, "Signed by"), Tri::yes);
    EXPECT_EQ(state(v, "Sealed"), Tri::yes);
    EXPECT_EQ(text(v, "Components"), "1 deserves a look (see Components)");
    o.components[0].flags = {"team-mismatch"};
    EXPECT_EQ(text(judge(true, &o, accepted, offline), "Components"),
              "2 deserve a look (see Components)");
    EXPECT_EQ(state(v, "Components"), Tri::no);
}

TEST(Verdict, EachKindOfRejectionSaysWhy) {
    Overview o = signedApp(false);
    struct Case {
        GatekeeperAnswer answer;
        ComponentCheck main;
        std::string reason, words, signer, sealed, sealDetail;
    };
    const Case cases[] = {
        // Tampered: the seal's own words, a pointer's rest away.
        {{Kind::rejected, "a sealed resource is missing or invalid", "Developer ID", {}},
         checkOf(Signer::untrusted, false, "a sealed resource is missing or invalid"),
         "a sealed resource is missing or invalid",
         "some files of the app are not as signed",
         "claims a certificate that isn't trusted; the app does not match its signature",
         "No: some files of the app are not as signed",
         "a sealed resource is missing or invalid"},
        // Ad hoc: nothing vouches for it; the source line is the reason.
        {{Kind::rejected, "", "no usable signature", {}},
         checkOf(Signer::adhoc, true),
         "no usable signature",
         "it is signed ad hoc: no developer vouches for it",
         "ad hoc",
         "Every file and piece of code is as signed",
         ""},
        // Unsigned.
        {{Kind::rejected, "", "no usable signature", {}},
         checkOf(Signer::unsigned_, false, "code object is not signed at all"),
         "no usable signature",
         "it is not signed",
         "unsigned",
         "No: it is not signed",
         "code object is not signed at all"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        o.components[0].check = c.main;
        o.components[1].check = c.main;
        const Verdict v = judge(true, &o, c.answer, offline);
        EXPECT_EQ(v.state, Verdict::State::rejected);
        EXPECT_EQ(text(v, "Gatekeeper"), "Rejected because " + c.words);
        EXPECT_EQ(detail(v, "Gatekeeper"), "Rejected: " + c.reason);
        EXPECT_EQ(state(v, "Gatekeeper"), Tri::no);
        EXPECT_EQ(v.signer, c.signer);
        EXPECT_EQ(state(v, "Signed by"), Tri::no);
        EXPECT_EQ(text(v, "Sealed"), c.sealed);
        EXPECT_EQ(detail(v, "Sealed"), c.sealDetail);
        EXPECT_EQ(text(v, "Hardened runtime"), "Off");
    }
    // A package that is no installer package is rejected for that, whatever a tool answered;
    // the same words on an app's reading change nothing.
    const Error broken{0, "malformed xar archive (no xar! magic)", ErrorCode::malformed};
    for (const auto& answer :
         {std::optional<GatekeeperAnswer>(), std::optional(GatekeeperAnswer{})}) {
        const Verdict pkg = judge(false, nullptr, answer, offline, broken);
        EXPECT_EQ(text(pkg, "Gatekeeper"),
                  "Rejected because this is not an installer package, or it is damaged");
        EXPECT_EQ(detail(pkg, "Gatekeeper"),
                  "Rejected: this is not a valid installer package: malformed xar archive (no "
                  "xar! magic)");
    }
    // A signature that is there but can't be read names nobody: not "unsigned".
    o.components[0].identity.signature = SignatureForm::unreadable;
    o.components[0].check = checkOf(Signer::unsigned_, false, "truncated or malformed object");
    const Verdict unreadable =
        judge(true, &o, GatekeeperAnswer{Kind::rejected, "truncated or malformed object", "", {}},
              offline);
    EXPECT_EQ(text(unreadable, "Gatekeeper"),
              "Rejected because the signature can't be read: the file is damaged or not a Mac "
              "program");
    EXPECT_EQ(detail(unreadable, "Gatekeeper"), "Rejected: truncated or malformed object");
    EXPECT_EQ(text(unreadable, "Signed by"), "can't tell: the signature can't be read");
    // What was read tells nothing more: the tool's words alone.
    o.components[0].identity.signature = SignatureForm::cms;
    o.components[0].check = checkOf(Signer::developerId, true);
    const Verdict other = judge(
        true, &o, GatekeeperAnswer{Kind::rejected, "Unnotarized Developer ID", "", {}}, offline);
    EXPECT_EQ(text(other, "Gatekeeper"), "Rejected: Unnotarized Developer ID");
    EXPECT_EQ(detail(other, "Gatekeeper"), "");
    EXPECT_NE(judge(true, &o, GatekeeperAnswer{}, offline, broken).state, Verdict::State::rejected);
}

TEST(Verdict, CodeThatDoesNotMatchItsSignatureVouchesForNoSigner) {
    const std::string leaf = "Developer ID Application: Example (TEAM123456)";
    Overview o = signedApp();
    ComponentCheck tampered = checkOf(Signer::developerId, false,
                                      "page 0 of the code does not "
                                      "match its hash");
    tampered.leafName = leaf;
    tampered.codeMatches = false;
    ComponentCheck cut = checkOf(Signer::developerId, false, "not checked: more than 1 MiB");
    cut.unchecked = true;
    o.components[1].check = checkOf(Signer::developerId, true);
    // Gatekeeper's answer may come from its cache, kept by a code directory that the change
    // left as it was.
    for (const GatekeeperAnswer& answer :
         {GatekeeperAnswer{Kind::accepted, "", "Developer ID", leaf},
          GatekeeperAnswer{Kind::rejected, "page 0", "Developer ID", {}}}) {
        o.components[0].check = tampered;
        Verdict v = judge(true, &o, answer, offline);
        EXPECT_EQ(v.signer, "claims " + leaf + "; the code does not match its signature");
        EXPECT_EQ(state(v, "Signed by"), Tri::no);
        EXPECT_EQ(state(v, "Hardened runtime"), Tri::unknown);
        EXPECT_EQ(text(v, "Hardened runtime"),
                  "Claimed by the signature; the code does not match it");
        EXPECT_EQ(state(v, "Sealed"), Tri::no);

        // Only the bundle around the code changed: the code's own claims stand.
        ComponentCheck resealed = tampered;
        resealed.codeMatches = true;
        o.components[0].check = resealed;
        v = judge(true, &o, answer, offline);
        EXPECT_EQ(v.signer, "claims " + leaf + "; the app does not match its signature");
        EXPECT_EQ(state(v, "Signed by"), Tri::no);
        EXPECT_EQ(text(v, "Hardened runtime"), "On");

        // Cut short at the hashing bound, it proves neither.
        o.components[0].check = cut;
        v = judge(true, &o, answer, offline);
        EXPECT_EQ(v.signer, "claims Developer ID; not checked: more than 1 MiB");
        EXPECT_EQ(state(v, "Signed by"), Tri::unknown);
        EXPECT_EQ(state(v, "Sealed"), Tri::unknown);
        EXPECT_EQ(text(v, "Sealed"), "not checked: more than 1 MiB");
    }
}

TEST(Verdict, SealedClaimsEveryPieceOnlyOnceEachHasAnsweredAsSigned) {
    Overview o = signedApp();
    o.components[0].check = checkOf(Signer::developerId, true);
    EXPECT_EQ(state(judge(true, &o, std::nullopt, offline), "Sealed"), Tri::unknown);
    EXPECT_EQ(text(judge(true, &o, std::nullopt, offline), "Sealed"), "Checking…");

    o.components[1].check = checkOf(Signer::unsigned_, false, "code object is not signed at all");
    Verdict v = judge(true, &o, std::nullopt, offline);
    EXPECT_EQ(state(v, "Sealed"), Tri::no);
    EXPECT_EQ(text(v, "Sealed"), "No: a piece of code inside is not as signed");
    EXPECT_EQ(detail(v, "Sealed"),
              "Contents/Frameworks/Kit.framework: code object is not signed at all");

    o.components[1].check = checkOf(Signer::developerId, true);
    o.problems = {"a folder could not be read: Contents/Helpers/locked (Permission denied)"};
    v = judge(true, &o, std::nullopt, offline);
    EXPECT_EQ(state(v, "Sealed"), Tri::no);
    EXPECT_EQ(text(v, "Sealed"),
              "No: part of the app could not be read, so it can't be vouched for");
    EXPECT_EQ(detail(v, "Sealed"), o.problems.front());

    o.problems.clear();
    EXPECT_EQ(text(judge(true, &o, std::nullopt, offline), "Sealed"),
              "Every file and piece of code is as signed");
}

TEST(Verdict, WhatThisComputerCannotCheckIsCantTellNeverNo) {
    Overview o = signedApp();
    const GatekeeperAnswer developerId{Kind::accepted, "", "Developer ID", "Developer ID X"};
    const Verdict here = judge(true, &o, developerId, offline);
    EXPECT_EQ(here.notarization, Tri::unknown);
    EXPECT_EQ(here.revocation, Tri::unknown);
    EXPECT_EQ(text(here, "Notarized"), "Can't tell: needs Apple's servers");
    EXPECT_EQ(text(here, "Revocation"), "Can't tell: needs Apple's servers");
    EXPECT_EQ(state(here, "Revocation"), Tri::unknown);
    EXPECT_EQ(here.notChecked, (std::vector<std::string>{"notarization", "revocation"}));

    // The system's own assessment knows both.
    EXPECT_EQ(judge(true, &o, developerId, mac).notarization, Tri::no);
    const GatekeeperAnswer notarized{Kind::accepted, "", "Notarized Developer ID", "X"};
    const Verdict there = judge(true, &o, notarized, mac);
    EXPECT_EQ(there.notarization, Tri::yes);
    EXPECT_EQ(there.revocation, Tri::yes);
    EXPECT_EQ(text(there, "Revocation"), "Checked by Gatekeeper");
    EXPECT_TRUE(there.notChecked.empty());

    // A tool that gave no answer of its own leaves everything it decides unknown.
    const Verdict silent = judge(true, &o, GatekeeperAnswer{}, mac);
    EXPECT_EQ(silent.state, Verdict::State::unknown);
    EXPECT_EQ(silent.notarization, Tri::unknown);
    EXPECT_EQ(state(silent, "Gatekeeper"), Tri::unknown);
}

TEST(Verdict, NamesFromTheBundleAreShownWithTheirControlCharacters) {
    Overview o = signedApp();
    o.components[0].identity.teamIdentifier = "T\nSealed: yes";
    const GatekeeperAnswer rejected{Kind::rejected, "bad\u202eevil", "Developer ID", {}};
    const Verdict v = judge(true, &o, rejected, offline);
    for (const VerdictLine& line : v.lines()) {
        EXPECT_EQ(line.text.find('\n'), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("\u202e"), std::string::npos) << line.text;
    }
    // A package has no components, and its verdict is Gatekeeper's alone.
    const Verdict package = judge(false, nullptr, rejected, offline);
    EXPECT_TRUE(package.complete);
    EXPECT_EQ(package.hardenedRuntime, Tri::unknown);
    EXPECT_EQ(text(package, "Hardened runtime"), "-");
    EXPECT_EQ(package.signer, "not told by Gatekeeper; see the report");
    EXPECT_EQ(state(package, "Signed by"), Tri::unknown);
}

}  // namespace
}  // namespace varko::overview
