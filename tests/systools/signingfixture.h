#pragma once

// A test certificate authority shaped like Apple's (root, Developer ID-style intermediate,
// leaf, timestamp authority) and bundles signed by it, for the verifier's tests.

#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/sealedbundle.h"
#include "fixtures/testca.h"
#include "format/macho/machoformat.h"
#include "support/bytes.h"
#include "systools/codesign/assessment.h"
#include "systools/codesign/bundlelocator.h"
#include "systools/codesign/codehash.h"
#include "systools/codesign/codeobject.h"

namespace varko::testing {

inline constexpr std::int64_t jan2020 = 1577836800;
inline constexpr std::int64_t jan2024 = 1704067200;
inline constexpr std::int64_t jan2030 = 1893456000;
inline constexpr std::int64_t jan2040 = 2208988800;

inline constexpr const char* developerIdApplication = "1.2.840.113635.100.6.1.13";
inline constexpr const char* developerIdCa = "1.2.840.113635.100.6.2.6";

struct TestPki {
    examplegen::TestIdentity root =
        examplegen::makeTestRoot("Varko Test Root CA", jan2020, jan2040);
    examplegen::TestIdentity intermediate =
        issue("Varko Test Developer ID CA", true, {developerIdCa}, jan2020, jan2040, root);
    examplegen::TestIdentity leaf =
        issue("Developer ID Application: Varko Tests (TEAM123456)", false, {developerIdApplication},
              jan2020, jan2030, intermediate);
    examplegen::TestIdentity tsa = issueTsa(root);

    [[nodiscard]] signing::TrustAnchors anchors() const {
        return {{examplegen::fingerprint(root)}};
    }

    static examplegen::TestIdentity issue(const std::string& cn, bool ca,
                                          std::vector<std::string> markers, std::int64_t from,
                                          std::int64_t to, const examplegen::TestIdentity& by) {
        examplegen::CertificateRequest r;
        r.commonName = cn;
        r.authority = ca;
        r.markers = std::move(markers);
        r.notBefore = from;
        r.notAfter = to;
        if (!ca) r.organizationalUnit = "TEAM123456";
        return examplegen::issueCertificate(r, by);
    }
    static examplegen::TestIdentity issueTsa(const examplegen::TestIdentity& by) {
        examplegen::CertificateRequest r;
        r.commonName = "Varko Test Timestamp Signer";
        r.timeStamping = true;
        r.notBefore = jan2020;
        r.notAfter = jan2040;
        return examplegen::issueCertificate(r, by);
    }
};

/// How a test signature is made; the identities must outlive the signing.
struct SignWith {
    const examplegen::TestIdentity* signer = nullptr;
    std::vector<const examplegen::TestIdentity*> chain;
    const examplegen::TestIdentity* tsa = nullptr;
    std::int64_t signingTime = jan2024;
    std::int64_t timestampTime = jan2024;
    bool ber = false;  ///< as Apple's codesign encodes, else DER as rcodesign does
};

inline examplegen::SignatureOptions cmsSigned(const SignWith& w) {
    examplegen::SignatureOptions o;
    o.identifier = "com.example.varko.signed";
    o.teamId = "TEAM123456";
    o.flags = codesig::CS_RUNTIME;
    o.cmsSigner = [w](std::span<const std::byte> cd) {
        examplegen::CmsRequest r;
        r.signer = w.signer;
        r.chain = w.chain;
        r.signingTime = w.signingTime;
        r.timestampAuthority = w.tsa;
        r.timestampTime = w.timestampTime;
        r.ber = w.ber;
        return examplegen::signCms(cd, r);
    };
    return o;
}

/// An executable of `codeSize` bytes of code, signed as `w` says.
inline examplegen::MachOOptions signedMachO(const SignWith& w, std::size_t codeSize,
                                            examplegen::Arch arch = examplegen::Arch::X86_64) {
    examplegen::MachOOptions o;
    o.arch = arch;
    o.codeSize = codeSize;
    o.signature = cmsSigned(w);
    return o;
}

inline std::string infoPlistFor(const std::string& exe) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           exe +
           "</string>\n\t<key>CFBundleIdentifier</key>\n\t<string>com.example.varko.signed</"
           "string>\n"
           "</dict>\n</plist>\n";
}

inline std::vector<examplegen::BundleFile> someResources() {
    return {{"Resources/en.lproj/InfoPlist.strings", "\"CFBundleName\" = \"Signed\";\n", {}},
            {"Resources/data.txt", "hello, seal\n", {}},
            {"Resources/link.txt", "", std::string("data.txt")}};
}

/// Writes NAME.app signed as `w` says and returns its path.
inline std::filesystem::path signedBundle(
    const QTemporaryDir& dir, const std::string& name, const SignWith& w,
    std::vector<examplegen::BundleFile> files = someResources()) {
    auto o = signedMachO(w, 3 * 4096 + 100);
    const auto app = std::filesystem::path(dir.path().toStdString()) / (name + ".app");
    auto written = examplegen::writeSealedBundle(app, infoPlistFor("Signed"), "Signed", files, o);
    return written ? app : std::filesystem::path();
}

/// Gives a bundle made by signedBundle the seal `seal` (CodeResources text), and signs its
/// executable anew over it, so that only what the seal says differs.
inline bool resealBundle(const std::filesystem::path& app, const std::string& seal,
                         const SignWith& w) {
    const auto contents = app / "Contents";
    if (!examplegen::writeFile(contents / "_CodeSignature" / "CodeResources", bytesOf(seal)))
        return false;
    auto o = signedMachO(w, 3 * 4096 + 100);
    o.signature->infoPlist = bytesOf(infoPlistFor("Signed"));
    o.signature->codeResources = bytesOf(seal);
    return bool(
        examplegen::writeFile(contents / "MacOS" / "Signed", examplegen::makeMachO(o), true));
}

/// Writes NAME.framework, versioned and signed as `w` says, and returns its path.
inline std::filesystem::path signedFramework(const std::filesystem::path& parent,
                                             const std::string& name, const SignWith& w) {
    const auto o = signedMachO(w, 2 * 4096);
    const auto framework = parent / (name + ".framework");
    auto written =
        examplegen::writeSealedFramework(framework, infoPlistFor(name), name,
                                         {{"Resources/strings.txt", "framework data\n", {}}}, o);
    return written ? framework : std::filesystem::path();
}

/// The cdhash of the code at `path` (its x86_64 slice), as seals and tickets name it.
inline std::vector<unsigned char> cdhashOf(const std::filesystem::path& path) {
    const auto location = codesign::locateCode(path);
    if (!location) return {};
    auto code = codesign::loadCodeObject(location->executable,
                                         macho::Architecture{macho::CPU_TYPE_X86_64, {}});
    if (!code || !code->signature) return {};
    const auto cd = code->signature->codeDirectory();
    if (!cd || !*cd) return {};
    auto full = codesign::digest(*codesign::hashKind((*cd)->hashType), (*cd)->bytes);
    full.resize(std::min<std::size_t>(full.size(), 20));
    return full;
}

inline codesign::Assessment assess(const std::filesystem::path& path,
                                   const signing::TrustAnchors& anchors,
                                   std::int64_t now = jan2024 + 86400) {
    const auto location = codesign::locateCode(path);
    if (!location) return {false, "not located", "", {}, {}};
    auto slices = codesign::loadEverySlice(location->executable);
    if (!slices) return {false, slices.error().message, "", {}, {}};
    return codesign::assessCode(*slices, *location, anchors, now);
}

}  // namespace varko::testing
