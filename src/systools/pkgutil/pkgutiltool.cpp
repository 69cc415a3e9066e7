// varko-pkgutil: what `pkgutil --check-signature` answers, from the package itself: the
// table of contents against its checksum, the signature over it, the chain to Apple's roots.
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "package/packagesignature.h"
#include "signing/dates.h"
#include "systools/standardoptions.h"

using namespace varko;

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
void fingerprint(const signing::Sha256& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 22 == 0)
            std::cout << (i ? "\n" : "") << "           ";
        else
            std::cout << ' ';
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        std::cout << hex;
    }
    std::cout << '\n';
}

int checkSignature(const std::string& path) {
    // Only Apple's pinned roots are trusted; nothing on the command line adds one.
    const auto verified =
        spctl::verifyPackage(path, signing::TrustAnchors::apple(), std::time(nullptr));
    if (!verified) {
        std::cerr << "Error: " << path << ": " << verified.error().message << '\n';
        return 1;
    }
    const spctl::PackageVerdict& v = *verified;
    std::cout << "Package \"" << std::filesystem::path(path).filename().string() << "\":\n"
              << "   Status: " << status(v) << '\n';
    if (v.kind == spctl::PackageVerdict::Kind::Trusted && v.timestamp)
        std::cout << "   Signed with a trusted timestamp on: " << signing::pkgutilDate(*v.timestamp)
                  << '\n';
    if (!v.chain.empty()) {
        std::cout << "   Certificate Chain:\n";
        for (std::size_t i = 0; i < v.chain.size(); ++i) {
            if (i) std::cout << "       " << std::string(72, '-') << '\n';
            std::cout << "    " << i + 1 << ". " << v.chain[i].commonName << '\n'
                      << "       Expires: " << signing::pkgutilDate(v.chain[i].notAfter) << '\n'
                      << "       SHA256 Fingerprint:\n";
            fingerprint(v.chain[i].fingerprint);
        }
        std::cout << '\n';
    }
    return v.kind == spctl::PackageVerdict::Kind::Trusted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr auto help =
        "Usage: varko-pkgutil --check-signature PKG\n"
        "Checks an installer package's signature as `pkgutil --check-signature` does:\n"
        "its table of contents, its signature and the chain to Apple's roots.\n";
    if (const auto answered = answerHelpOrVersion(argc, argv, "varko-pkgutil", VARKO_VERSION, help))
        return *answered;
    if (argc != 3 || std::string(argv[1]) != "--check-signature") {
        std::cerr << "Usage: varko-pkgutil --check-signature PKG\n";
        return 2;
    }
    // The path stays the bytes it came as: a name that is not UTF-8 is still a name.
    const std::string path = argv[2];
    try {
        return checkSignature(path);
    } catch (const std::exception& e) {
        // The readers return their errors; this is the last guard, so that nothing aborts.
        std::cerr << "Error: " << path << ": " << e.what() << '\n';
    } catch (...) {
        std::cerr << "Error: " << path << ": unexpected failure\n";
    }
    return 1;
}
