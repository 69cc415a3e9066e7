#include "systools/codesign/codesigntool.h"

#include <ctime>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "format/codesig/csblobs.h"
#include "format/itemfile.h"
#include "format/macho/machoformat.h"
#include "format/visibletext.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"
#include "signing/trust.h"
#include "systools/codesign/entitlementsdisplay.h"
#include "systools/codesign/options.h"
#include "systools/codesign/requirementsdisplay.h"
#include "systools/codesign/signaturedisplay.h"
#include "systools/codesign/verify.h"

namespace varko::codesign {

namespace {

constexpr int failure = 1;
constexpr int usageError = 2;

int fail(std::ostream& err, const std::string& path, const std::string& message) {
    // Names and messages carry the item's own text: none of it may start a line of its own.
    err << varko::visibleControls(path) << ": " << varko::visibleControls(message) << '\n';
    return failure;
}

int display(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& path = options.path;
    const auto located = locateCode(path);
    if (!located) return fail(err, path, located.error().message);
    const CodeLocation& location = *located;

    std::optional<varko::macho::Architecture> architecture;
    if (options.architecture) {
        const auto parsed = varko::macho::parseArchitecture(*options.architecture);
        if (!parsed) return fail(err, path, "unknown architecture " + *options.architecture);
        architecture = *parsed;
    }
    // Without -a the slice shown is the one a current Mac runs, whatever this machine is.
    auto loaded = loadCodeObject(location, architecture,
                                 options.verbose > 0 || options.requirements
                                     ? SignatureRead::WithoutPageHashes
                                     : SignatureRead::Entitlements);
    if (!loaded) {
        const std::string& why = loaded.error().message;
        switch (loaded.error().code) {
            case varko::ErrorCode::unsupported:
                return fail(err, path, unrecognizedBundle);
            case varko::ErrorCode::malformed:
                return fail(err, path, "main executable is malformed: " + why);
            case varko::ErrorCode::invalidSignature:
                return fail(err, path, "invalid or unsupported format for signature: " + why);
            case varko::ErrorCode::missing:
                return fail(err, path,
                            "the executable has no code for architecture " + *options.architecture);
            default:
                return fail(err, path, why);
        }
    }
    const CodeObject& code = *loaded;
    if (!code.signature) return fail(err, path, "code object is not signed at all");

    std::error_code ec;
    auto shown = std::filesystem::absolute(code.executable, ec);
    // The kernel's name for the file, from one walk of its path; weakly_canonical reads
    // each part as a possible link. It still names what can't be resolved.
    if (!ec) {
        if (const auto real = varko::ItemRoot::of(shown))
            shown = real->path();
        else
            shown = std::filesystem::weakly_canonical(shown, ec);
    }
    err << "Executable=" << varko::visibleControls((ec ? code.executable : shown).string()) << '\n';
    if (options.verbose > 0) {
        std::string format = location.isApp       ? "app bundle with "
                             : location.infoPlist ? "bundle with "
                                                  : "";
        format += code.universal ? "Mach-O universal (" : "Mach-O thin (";
        for (std::size_t i = 0; i < code.architectures.size(); ++i)
            format += (i ? " " : "") + code.architectures[i];
        format += ")";
        if (auto shown = writeDetails(code, location, format, err); !shown)
            return fail(err, path, shown.error().message);
    }
    if (options.requirements)
        if (auto written = writeRequirements(code, location, *options.requirements, out); !written)
            return fail(err, path, written.error().message);
    if (options.entitlements) {
        if (auto written = writeEntitlements(*code.signature, *options.entitlements, out); !written)
            return fail(err, path,
                        "invalid or unsupported format for signature: " + written.error().message);
    }
    return 0;
}

}  // namespace

std::string codesignHelp() {
    return std::string(usage()) +
           "Shows the code signature, requirements and entitlements of a bundle or Mach-O file as\n"
           "`codesign --display` does, and checks them as `codesign --verify` does, read from the\n"
           "files themselves. Exit status of --verify: 0 valid, 1 invalid, 3 a requirement not\n"
           "satisfied.\n";
}

int runCodesign(std::span<const std::string> arguments, std::ostream& out, std::ostream& err) {
    try {
        const auto parsed = parseOptions(arguments);
        if (!parsed) {
            err << "varko-codesign: " << varko::visibleControls(parsed.error().message) << '\n'
                << usage();
            return usageError;
        }
        if (parsed->verify)
            return verifyItem(*parsed, varko::signing::TrustAnchors::apple(), std::time(nullptr),
                              err);
        return display(*parsed, out, err);
    } catch (const std::exception& e) {
        // The readers return their errors; this is the last guard, so that nothing aborts.
        err << "varko-codesign: " << e.what() << '\n';
    } catch (...) {
        err << "varko-codesign: unexpected failure\n";
    }
    return failure;
}

}  // namespace varko::codesign
