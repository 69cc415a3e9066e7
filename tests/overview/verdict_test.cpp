// The verdict: accepted, rejected or can't tell, and what it says while answers arrive.
#include <gtest/gtest.h>

#include "overview/components.h"
#include "overview/datafile.h"
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

/// The verdict's line of that label; "-" for the text and detail of one it lacks.
VerdictLine line(const Verdict& v, const std::string& label) {
    for (const VerdictLine& l : v.lines())
        if (l.label == label) return l;
    return {Tri::unknown, label, "-", "-"};
}

TEST(Verdict, FillsInAsTheAnswersArrive) {
    Overview o = signedApp();
    Verdict v = judge(true, &o, std::nullopt, offline);
    EXPECT_EQ(v.state, Verdict::State::unknown);
    EXPECT_FALSE(v.complete);
    EXPECT_EQ(v.pending, 2u);
    EXPECT_EQ(line(v, "Signed by").state, Tri::unknown);
    EXPECT_EQ(line(v, "Sealed").text, "Checking…");
    EXPECT_EQ(line(v, "Hardened runtime").text, "On");

    const GatekeeperAnswer accepted{Kind::accepted, "", "Developer ID",
                                    "Developer ID Application: Example (TEAM123456)"};
    o.components[0].check = checkOf(Signer::developerId, true);
    o.components[1].check = checkOf(Signer::adhoc, true);
    o.components[1].flags = {"adhoc"};
    v = judge(true, &o, accepted, offline);
    EXPECT_TRUE(v.complete);
    EXPECT_EQ(v.state, Verdict::State::accepted);
    EXPECT_EQ(line(v, "Gatekeeper").text, "Accepted");
    EXPECT_EQ(line(v, "Signed by").text, "Developer ID Application: Example (TEAM123456)");
    EXPECT_EQ(line(v, "Signed by").state, Tri::yes);
    EXPECT_EQ(line(v, "Sealed").state, Tri::yes);
    EXPECT_EQ(line(v, "Components").text, "1 deserves a look (see Components)");
    o.components[0].flags = {"team-mismatch"};
    EXPECT_EQ(line(judge(true, &o, accepted, offline), "Components").text,
              "2 deserve a look (see Components)");
    EXPECT_EQ(line(v, "Components").state, Tri::no);
}

TEST(Verdict, EachKindOfRejectionSaysWhy) {
    Overview o = signedApp(false);
    for (const QList<QByteArray>& row : varko::testing::dataCases("rejections.txt")) {
        std::vector<std::string> c;
        for (const QByteArray& field : row) c.push_back(field.toStdString());
        SCOPED_TRACE(c[5]);
        Signer signer = Signer::unsigned_;
        for (int i = 0; i <= int(Signer::untrusted); ++i)
            if (signerName(Signer(i)) == c[2]) signer = Signer(i);
        o.components[0].check = o.components[1].check = checkOf(signer, c[3] == "1", c[4]);
        const Verdict v = judge(true, &o, GatekeeperAnswer{Kind::rejected, c[0], c[1], {}}, offline);
        EXPECT_EQ(v.state, Verdict::State::rejected);
        EXPECT_EQ(line(v, "Gatekeeper").text, "Rejected because " + c[6]);
        EXPECT_EQ(line(v, "Gatekeeper").detail, "Rejected: " + c[5]);
        EXPECT_EQ(line(v, "Gatekeeper").state, Tri::no);
        EXPECT_EQ(v.signer, c[7]);
        EXPECT_EQ(line(v, "Signed by").state, Tri::no);
        EXPECT_EQ(line(v, "Sealed").text, c[8]);
        EXPECT_EQ(line(v, "Sealed").detail, c[9]);
        EXPECT_EQ(line(v, "Hardened runtime").text, "Off");
    }
    // A package that is no installer package is rejected for that, whatever a tool answered;
    // the same words on an app's reading change nothing.
    const Error broken{0, "malformed xar archive (no xar! magic)", ErrorCode::malformed};
    for (const auto& answer :
         {std::optional<GatekeeperAnswer>(), std::optional(GatekeeperAnswer{})}) {
        const Verdict pkg = judge(false, nullptr, answer, offline, broken);
        EXPECT_EQ(line(pkg, "Gatekeeper").text,
                  "Rejected because this is not an installer package, or it is damaged");
        EXPECT_EQ(line(pkg, "Gatekeeper").detail,
                  "Rejected: this is not a valid installer package: malformed xar archive (no "
                  "xar! magic)");
    }
    // A signature that is there but can't be read names nobody: not "unsigned".
    o.components[0].identity.signature = SignatureForm::unreadable;
    o.components[0].check = checkOf(Signer::unsigned_, false, "truncated or malformed object");
    const Verdict unreadable =
        judge(true, &o, GatekeeperAnswer{Kind::rejected, "truncated or malformed object", "", {}},
              offline);
    EXPECT_EQ(line(unreadable, "Gatekeeper").text,
              "Rejected because the signature can't be read: the file is damaged or not a Mac "
              "program");
    EXPECT_EQ(line(unreadable, "Gatekeeper").detail, "Rejected: truncated or malformed object");
    EXPECT_EQ(line(unreadable, "Signed by").text, "can't tell: the signature can't be read");
    // What was read tells nothing more: the tool's words alone.
    o.components[0].identity.signature = SignatureForm::cms;
    o.components[0].check = checkOf(Signer::developerId, true);
    const Verdict other = judge(
        true, &o, GatekeeperAnswer{Kind::rejected, "Unnotarized Developer ID", "", {}}, offline);
    EXPECT_EQ(line(other, "Gatekeeper").text, "Rejected: Unnotarized Developer ID");
    EXPECT_EQ(line(other, "Gatekeeper").detail, "");
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
        EXPECT_EQ(line(v, "Signed by").state, Tri::no);
        EXPECT_EQ(line(v, "Hardened runtime").state, Tri::unknown);
        EXPECT_EQ(line(v, "Hardened runtime").text,
                  "Claimed by the signature; the code does not match it");
        EXPECT_EQ(line(v, "Sealed").state, Tri::no);

        // Only the bundle around the code changed: the code's own claims stand.
        ComponentCheck resealed = tampered;
        resealed.codeMatches = true;
        o.components[0].check = resealed;
        v = judge(true, &o, answer, offline);
        EXPECT_EQ(v.signer, "claims " + leaf + "; the app does not match its signature");
        EXPECT_EQ(line(v, "Signed by").state, Tri::no);
        EXPECT_EQ(line(v, "Hardened runtime").text, "On");

        // Cut short at the hashing bound, it proves neither.
        o.components[0].check = cut;
        v = judge(true, &o, answer, offline);
        EXPECT_EQ(v.signer, "claims Developer ID; not checked: more than 1 MiB");
        EXPECT_EQ(line(v, "Signed by").state, Tri::unknown);
        EXPECT_EQ(line(v, "Sealed").state, Tri::unknown);
        EXPECT_EQ(line(v, "Sealed").text, "not checked: more than 1 MiB");
    }
}

TEST(Verdict, SealedClaimsEveryPieceOnlyOnceEachHasAnsweredAsSigned) {
    Overview o = signedApp();
    o.components[0].check = checkOf(Signer::developerId, true);
    EXPECT_EQ(line(judge(true, &o, std::nullopt, offline), "Sealed").state, Tri::unknown);
    EXPECT_EQ(line(judge(true, &o, std::nullopt, offline), "Sealed").text, "Checking…");

    o.components[1].check = checkOf(Signer::unsigned_, false, "code object is not signed at all");
    Verdict v = judge(true, &o, std::nullopt, offline);
    EXPECT_EQ(line(v, "Sealed").state, Tri::no);
    EXPECT_EQ(line(v, "Sealed").text, "No: a piece of code inside is not as signed");
    EXPECT_EQ(line(v, "Sealed").detail,
              "Contents/Frameworks/Kit.framework: code object is not signed at all");

    o.components[1].check = checkOf(Signer::developerId, true);
    o.problems = {"a folder could not be read: Contents/Helpers/locked (Permission denied)"};
    v = judge(true, &o, std::nullopt, offline);
    EXPECT_EQ(line(v, "Sealed").state, Tri::no);
    EXPECT_EQ(line(v, "Sealed").text,
              "No: part of the app could not be read, so it can't be vouched for");
    EXPECT_EQ(line(v, "Sealed").detail, o.problems.front());

    o.problems.clear();
    EXPECT_EQ(line(judge(true, &o, std::nullopt, offline), "Sealed").text,
              "Every file and piece of code is as signed");
}

TEST(Verdict, WhatThisComputerCannotCheckIsCantTellNeverNo) {
    Overview o = signedApp();
    const GatekeeperAnswer developerId{Kind::accepted, "", "Developer ID", "Developer ID X"};
    const Verdict here = judge(true, &o, developerId, offline);
    EXPECT_EQ(here.notarization, Tri::unknown);
    EXPECT_EQ(here.revocation, Tri::unknown);
    EXPECT_EQ(line(here, "Notarized").text, "Can't tell: needs Apple's servers");
    EXPECT_EQ(line(here, "Revocation").text, "Can't tell: needs Apple's servers");
    EXPECT_EQ(line(here, "Revocation").state, Tri::unknown);
    EXPECT_EQ(here.notChecked, (std::vector<std::string>{"notarization", "revocation"}));

    // The system's own assessment knows both.
    EXPECT_EQ(judge(true, &o, developerId, mac).notarization, Tri::no);
    const GatekeeperAnswer notarized{Kind::accepted, "", "Notarized Developer ID", "X"};
    const Verdict there = judge(true, &o, notarized, mac);
    EXPECT_EQ(there.notarization, Tri::yes);
    EXPECT_EQ(there.revocation, Tri::yes);
    EXPECT_EQ(line(there, "Revocation").text, "Checked by Gatekeeper");
    EXPECT_TRUE(there.notChecked.empty());

    // A tool that gave no answer of its own leaves everything it decides unknown.
    const Verdict silent = judge(true, &o, GatekeeperAnswer{}, mac);
    EXPECT_EQ(silent.state, Verdict::State::unknown);
    EXPECT_EQ(silent.notarization, Tri::unknown);
    EXPECT_EQ(line(silent, "Gatekeeper").state, Tri::unknown);
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
    EXPECT_EQ(line(package, "Hardened runtime").text, "-");
    EXPECT_EQ(package.signer, "not told by Gatekeeper; see the report");
    EXPECT_EQ(line(package, "Signed by").state, Tri::unknown);
}

}  // namespace
}  // namespace varko::overview
