// varko-spctl: what `spctl --assess` answers, from the files themselves: the code against its
// signature, the signature against Apple's pinned roots, and Gatekeeper's source rules.
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "format/codesig/csblobs.h"
#include "package/packagesignature.h"
#include "signature/assessment.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "signature/hashbudget.h"
#include "systools/standardoptions.h"

using namespace varko;

namespace {

constexpr int rejected = 3;
constexpr int usageError = 2;

struct Options {
    bool assess = false;
    bool install = false;
    std::string path;
};

const char* usage() {
    return "Usage: varko-spctl -a|--assess [-v...] [-t|--type execute|install] path\n";
}

int reject(const std::string& path, const std::string& reason = {}) {
    std::cerr << path << ": rejected" << (reason.empty() ? "" : " (" + reason + ")")
              << "\nsource=no usable signature\n";
    return rejected;
}

int report(const std::string& path, const codesign::Assessment& a) {
    std::cerr << path << ": " << (a.accepted ? "accepted" : "rejected")
              << (a.reason.empty() ? "" : " (" + a.reason + ")") << '\n';
    if (a.accepted || !a.origin) std::cerr << "source=" << a.source << '\n';
    if (a.origin) std::cerr << "origin=" << *a.origin << '\n';
    for (const auto& note : a.notes) std::cerr << note << '\n';
    return a.accepted ? 0 : rejected;
}

int assessCode(const std::string& path) {
    const auto location = codesign::locateCode(path);
    if (!location) {
        // A bundle whose own files can't be read is judged, not merely failed.
        if (!codesign::isNoCode(location.error())) return reject(path, location.error().message);
        std::cerr << path << ": " << location.error().message << '\n';
        return 1;
    }
    // Every slice is checked, as Gatekeeper does: the one this machine would run is no guide.
    auto loaded = codesign::loadEverySlice(*location);
    if (!loaded) return reject(path, loaded.error().message);
    // Only Apple's pinned roots are ever trusted here; nothing on the command line adds one.
    codesign::HashBudget budget;
    codesign::HashBudget::Scope scope(&budget);
    const codesign::Assessment a = codesign::assessCode(
        *loaded, *location, signing::TrustAnchors::apple(), std::time(nullptr));
    // Code too large to hash in time is neither accepted nor rejected: no answer.
    if (scope.refused()) {
        std::cerr << path << ": " << budget.spentMessage() << '\n';
        return 1;
    }
    return report(path, a);
}

int assessPackage(const std::string& path) {
    const auto verified =
        spctl::verifyPackage(path, signing::TrustAnchors::apple(), std::time(nullptr));
    if (!verified) {
        std::cerr << path << ": " << verified.error().message << '\n';
        return 1;
    }
    const spctl::PackageVerdict& v = *verified;
    using Kind = spctl::PackageVerdict::Kind;
    switch (v.kind) {
        case Kind::Unsigned:
            return reject(path);
        case Kind::Invalid:
        case Kind::Untrusted:
            return reject(path, v.check.error().message);
        case Kind::Trusted:
            break;
    }
    codesign::Assessment a;
    a.origin = v.chain.front().commonName;
    a.notes.push_back(
        "note: revocation of the certificates was not checked (needs Apple's servers)");
    switch (v.authority) {
        case signing::Authority::DeveloperId:
            a.source = "Developer ID";
            a.notes.push_back("note: the notary service was not asked (offline)");
            break;
        case signing::Authority::MacAppStore:
            a.source = "Mac App Store";
            break;
        case signing::Authority::AppleSystem:
            a.source = "Apple System";
            break;
        case signing::Authority::Unknown:
            a.origin.reset();
            return report(path, a);
    }
    a.accepted = true;
    return report(path, a);
}

int run(const std::vector<std::string>& arguments) {
    Options o;
    bool havePath = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "-a" || a == "--assess") {
            o.assess = true;
        } else if (a == "-v" || a == "-vv" || a == "-vvv" || a == "--verbose") {
            // The verdict already carries source and reason.
        } else if ((a == "-t" || a == "--type") && i + 1 < arguments.size()) {
            const std::string& type = arguments[++i];
            if (type != "execute" && type != "exec" && type != "install") {
                std::cerr << "varko-spctl: unknown assessment type `" << type << "'\n" << usage();
                return usageError;
            }
            o.install = type == "install";
        } else if (!a.empty() && a[0] != '-' && !havePath) {
            o.path = a;
            havePath = true;
        } else {
            std::cerr << "varko-spctl: unrecognized argument `" << a << "'\n" << usage();
            return usageError;
        }
    }
    if (!o.assess || !havePath) {
        std::cerr << usage();
        return usageError;
    }
    return o.install ? assessPackage(o.path) : assessCode(o.path);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string help =
        std::string(usage()) +
        "Assesses an app or, with --type install, an installer package as Gatekeeper's\n"
        "`spctl --assess` does, against Apple's roots only and without Apple's servers.\n";
    if (const auto answered =
            answerHelpOrVersion(argc, argv, "varko-spctl", VARKO_VERSION, help.c_str()))
        return *answered;
    // Paths stay the bytes they came as: a name that is not UTF-8 is still a name.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        return run(arguments);
    } catch (const std::exception& e) {
        // The readers return their errors; this is the last guard, so that nothing aborts.
        std::cerr << "varko-spctl: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "varko-spctl: unexpected failure\n";
    }
    return 1;
}
