#include "systools/pkgutil/pkgutiltool.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <ostream>
#include <string>

#include "package/packagesignature.h"
#include "signing/dates.h"

namespace varko::pkgutil {

namespace {

std::string status(const spctl::PackageVerdict& v) {
    using Kind = spctl::PackageVerdict::Kind;
    switch (v.kind) {
        case Kind::Unsigned:
            return "no signature";
        case Kind::Invalid:
            return "package is invalid (" + v.check.error().message + ")";
        case Kind::Untrusted:
            return v.check.error().message == signing::certExpired
                       ? "signed by a certificate that has since expired"
                       : "signed by untrusted certificate";
        case Kind::Trusted:
            break;
    }
    if (v.authority == signing::Authority::DeveloperId)
        return "signed by a developer certificate issued by Apple for distribution";
    const bool appleUpdate =
        v.chain.size() > 1 &&
        v.chain[1].commonName == "Apple Software Update Certification Authority";
    if (v.authority == signing::Authority::AppleSystem || appleUpdate)
        return "signed Apple Software";
    return "signed by a certificate trusted by Mac OS X";
}

/// pkgutil's layout: 22 bytes to a line, upper-case hex, under the entry's text.
void fingerprint(const signing::Sha256& bytes, std::ostream& out) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 22 == 0)
            out << (i ? "\n" : "") << "           ";
        else
            out << ' ';
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        out << hex;
    }
    out << '\n';
}

int checkSignature(const std::string& path, std::ostream& out, std::ostream& err) {
    // Only Apple's pinned roots are trusted; nothing on the command line adds one.
    const auto verified =
        spctl::verifyPackage(path, signing::TrustAnchors::apple(), std::time(nullptr));
    if (!verified) {
        err << "Error: " << path << ": " << verified.error().message << '\n';
        return 1;
    }
    const spctl::PackageVerdict& v = *verified;
    out << "Package \"" << std::filesystem::path(path).filename().string() << "\":\n"
        << "   Status: " << status(v) << '\n';
    if (v.kind == spctl::PackageVerdict::Kind::Trusted && v.timestamp)
        out << "   Signed with a trusted timestamp on: " << signing::pkgutilDate(*v.timestamp)
            << '\n';
    if (!v.chain.empty()) {
        out << "   Certificate Chain:\n";
        for (std::size_t i = 0; i < v.chain.size(); ++i) {
            if (i) out << "       " << std::string(72, '-') << '\n';
            out << "    " << i + 1 << ". " << v.chain[i].commonName << '\n'
                << "       Expires: " << signing::pkgutilDate(v.chain[i].notAfter) << '\n'
                << "       SHA256 Fingerprint:\n";
            fingerprint(v.chain[i].fingerprint, out);
        }
        out << '\n';
    }
    return v.kind == spctl::PackageVerdict::Kind::Trusted ? 0 : 1;
}

}  // namespace

int runPkgutil(std::span<const std::string> arguments, std::ostream& out, std::ostream& err) {
    if (arguments.size() != 2 || arguments[0] != "--check-signature") {
        err << "Usage: varko-pkgutil --check-signature PKG\n";
        return 2;
    }
    const std::string& path = arguments[1];
    try {
        return checkSignature(path, out, err);
    } catch (const std::exception& e) {
        // The readers return their errors; this is the last guard, so that nothing aborts.
        err << "Error: " << path << ": " << e.what() << '\n';
    } catch (...) {
        err << "Error: " << path << ": unexpected failure\n";
    }
    return 1;
}

}  // namespace varko::pkgutil
