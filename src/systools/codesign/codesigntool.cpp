// varko-codesign: what `codesign --display` shows and what `codesign --verify` finds, read from
// the files themselves.
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "format/codesig/csblobs.h"
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
#include "systools/standardoptions.h"

using namespace varko::codesign;

namespace {

constexpr int failure = 1;
constexpr int usageError = 2;

int fail(const std::string& path, const std::string& message) {
    // Names and messages carry the item's own text: none of it may start a line of its own.
    std::cerr << varko::visibleControls(path) << ": " << varko::visibleControls(message) << '\n';
    return failure;
}

int display(const Options& options) {
    const std::string& path = options.path;
    const auto located = locateCode(path);
    if (!located) return fail(path, located.error().message);
    const CodeLocation& location = *located;

    std::optional<varko::macho::Architecture> architecture;
    if (options.architecture) {
        const auto parsed = varko::macho::parseArchitecture(*options.architecture);
        if (!parsed) return fail(path, "unknown architecture " + *options.architecture);
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
                return fail(path, unrecognizedBundle);
            case varko::ErrorCode::malformed:
                return fail(path, "main executable is malformed: " + why);
            case varko::ErrorCode::invalidSignature:
                return fail(path, "invalid or unsupported format for signature: " + why);
            case varko::ErrorCode::missing:
                return fail(path,
                            "the executable has no code for architecture " + *options.architecture);
            default:
                return fail(path, why);
        }
    }
    const CodeObject& code = *loaded;
    if (!code.signature) return fail(path, "code object is not signed at all");

    std::error_code ec;
    auto shown = std::filesystem::absolute(code.executable, ec);
    if (!ec) shown = std::filesystem::weakly_canonical(shown, ec);
    std::cerr << "Executable=" << varko::visibleControls((ec ? code.executable : shown).string())
              << '\n';
    if (options.verbose > 0) {
        std::string format = location.isApp       ? "app bundle with "
                             : location.infoPlist ? "bundle with "
                                                  : "";
        format += code.universal ? "Mach-O universal (" : "Mach-O thin (";
        for (std::size_t i = 0; i < code.architectures.size(); ++i)
            format += (i ? " " : "") + code.architectures[i];
        format += ")";
        if (auto shown = writeDetails(code, location, format, std::cerr); !shown)
            return fail(path, shown.error().message);
    }
    if (options.requirements)
        if (auto written = writeRequirements(code, location, *options.requirements, std::cout);
            !written)
            return fail(path, written.error().message);
    if (options.entitlements) {
        if (auto written = writeEntitlements(*code.signature, *options.entitlements, std::cout);
            !written)
            return fail(path,
                        "invalid or unsupported format for signature: " + written.error().message);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string help =
        std::string(usage()) +
        "Shows the code signature, requirements and entitlements of a bundle or Mach-O file as\n"
        "`codesign --display` does, and checks them as `codesign --verify` does, read from the\n"
        "files themselves. Exit status of --verify: 0 valid, 1 invalid, 3 a requirement not\n"
        "satisfied.\n";
    if (const auto answered =
            varko::answerHelpOrVersion(argc, argv, "varko-codesign", VARKO_VERSION, help.c_str()))
        return *answered;
    // Paths stay the bytes they came as: a name that is not UTF-8 is still a name.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        const auto parsed = parseOptions(arguments);
        if (!parsed) {
            std::cerr << "varko-codesign: " << varko::visibleControls(parsed.error().message)
                      << '\n'
                      << usage();
            return usageError;
        }
        if (parsed->verify)
            return verifyItem(*parsed, varko::signing::TrustAnchors::apple(), std::time(nullptr),
                              std::cerr);
        return display(*parsed);
    } catch (const std::exception& e) {
        // The readers return their errors; this is the last guard, so that nothing aborts.
        std::cerr << "varko-codesign: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "varko-codesign: unexpected failure\n";
    }
    return failure;
}
