#pragma once

// Bundles signed by the test certificate authority (fixtures/testsigning.h), and the
// verifier's answer for them.

#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/sealedbundle.h"
#include "fixtures/testca.h"
#include "fixtures/testsigning.h"
#include "format/macho/machoformat.h"
#include "signature/assessment.h"
#include "signature/bundlelocator.h"
#include "signature/codehash.h"
#include "signature/codeobject.h"
#include "support/bytes.h"

namespace varko::testing {

using examplegen::cmsSigned;
using examplegen::developerIdApplication;
using examplegen::developerIdCa;
using examplegen::jan2020;
using examplegen::jan2024;
using examplegen::jan2030;
using examplegen::jan2040;
using examplegen::signedMachO;
using examplegen::SignWith;
using examplegen::TestPki;

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

/// A lone executable at `path`, as the verifier locates one.
inline codesign::CodeLocation loneCode(const std::filesystem::path& path) {
    return {path, std::nullopt, std::nullopt, false, std::nullopt};
}

/// Writes a thin executable made as `o` says at `path`, and loads it back.
inline Expected<codesign::CodeObject> writeAndLoad(
    const std::filesystem::path& path, const examplegen::MachOOptions& o,
    codesign::SignatureRead how = codesign::SignatureRead::Whole) {
    if (auto written = examplegen::writeFile(path, examplegen::makeMachO(o)); !written)
        return written.error();
    return codesign::loadCodeObject(path, std::nullopt, how);
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
