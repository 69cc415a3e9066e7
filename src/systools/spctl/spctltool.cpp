#include "systools/spctl/spctltool.h"

#include <ctime>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "format/codesig/csblobs.h"
#include "package/packagesignature.h"
#include "signature/assessment.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"
#include "signature/hashbudget.h"

namespace varko::spctl {

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

int reject(std::ostream& err, const std::string& path, const std::string& reason = {}) {
    err << path << ": rejected" << (reason.empty() ? "" : " (" + reason + ")")
        << "\nsource=no usable signature\n";
    return rejected;
}

int report(std::ostream& err, const std::string& path, const codesign::Assessment& a) {
    err << path << ": " << (a.accepted ? "accepted" : "rejected")
        << (a.reason.empty() ? "" : " (" + a.reason + ")") << '\n';
    if (a.accepted || !a.origin) err << "source=" << a.source << '\n';
    if (a.origin) err << "origin=" << *a.origin << '\n';
    for (const auto& note : a.notes) err << note << '\n';
    return a.accepted ? 0 : rejected;
}

int assessCode(const std::string& path, std::ostream& err) {
    const auto location = codesign::locateCode(path);
    if (!location) {
        // A bundle whose own files can't be read is judged, not merely failed.
        if (!codesign::isNoCode(location.error()))
            return reject(err, path, location.error().message);
        err << path << ": " << location.error().message << '\n';
        return 1;
    }
    // Every slice is checked, as Gatekeeper does: the one this machine would run is no guide.
    auto loaded = codesign::loadEverySlice(*location);
    if (!loaded) return reject(err, path, loaded.error().message);
    // Only Apple's pinned roots are ever trusted here; nothing on the command line adds one.
    codesign::HashBudget budget;
    codesign::HashBudget::Scope scope(&budget);
    const codesign::Assessment a = codesign::assessCode(
        *loaded, *location, signing::TrustAnchors::apple(), std::time(nullptr));
    // Code too large to hash in time is neither accepted nor rejected: no answer.
    if (scope.refused()) {
        err << path << ": " << budget.spentMessage() << '\n';
        return 1;
    }
    return report(err, path, a);
}

int assessPackage(const std::string& path, std::ostream& err) {
    const auto verified = verifyPackage(path, signing::TrustAnchors::apple(), std::time(nullptr));
    if (!verified) {
        err << path << ": " << verified.error().message << '\n';
        return 1;
    }
    const PackageVerdict& v = *verified;
    using Kind = PackageVerdict::Kind;
    switch (v.kind) {
        case Kind::Unsigned:
            return reject(err, path);
        case Kind::Invalid:
        case Kind::Untrusted:
            return reject(err, path, v.check.error().message);
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
            return report(err, path, a);
    }
    a.accepted = true;
    return report(err, path, a);
}

int run(std::span<const std::string> arguments, std::ostream& err) {
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
                err << "varko-spctl: unknown assessment type `" << type << "'\n" << usage();
                return usageError;
            }
            o.install = type == "install";
        } else if (!a.empty() && a[0] != '-' && !havePath) {
            o.path = a;
            havePath = true;
        } else {
            err << "varko-spctl: unrecognized argument `" << a << "'\n" << usage();
            return usageError;
        }
    }
    if (!o.assess || !havePath) {
        err << usage();
        return usageError;
    }
    return o.install ? assessPackage(o.path, err) : assessCode(o.path, err);
}

}  // namespace

std::string spctlHelp() {
    return std::string(usage()) +
           "Assesses an app or, with --type install, an installer package as Gatekeeper's\n"
           "`spctl --assess` does, against Apple's roots only and without Apple's servers.\n";
}

int runSpctl(std::span<const std::string> arguments, std::ostream& err) {
    try {
        return run(arguments, err);
    } catch (const std::exception& e) {
        // The readers return their errors; this is the last guard, so that nothing aborts.
        err << "varko-spctl: " << e.what() << '\n';
    } catch (...) {
        err << "varko-spctl: unexpected failure\n";
    }
    return 1;
}

}  // namespace varko::spctl
