// varko-codesign: what `codesign --display` shows, read from the files themselves.
#include <exception>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "format/codesig/csblobs.h"
#include "format/macho/machoformat.h"
#include "systools/codesign/bundlelocator.h"
#include "systools/codesign/codeobject.h"
#include "systools/codesign/entitlementsdisplay.h"
#include "systools/codesign/options.h"
#include "systools/codesign/signaturedisplay.h"

using namespace varko::codesign;

namespace {

constexpr int failure = 1;
constexpr int usageError = 2;

int fail(const std::string& path, const std::string& message) {
    std::cerr << path << ": " << message << '\n';
    return failure;
}

int display(const Options& options) {
    const std::string& path = options.path;
    const auto located = locateCode(path);
    if (const auto* f = std::get_if<LocateFailure>(&located)) {
        switch (f->kind) {
            case LocateFailure::Kind::NoSuchFile:
                return fail(path, "No such file or directory");
            case LocateFailure::Kind::Unrecognized:
                return fail(path, "bundle format unrecognized, invalid, or unsuitable");
            case LocateFailure::Kind::Unreadable:
                return fail(path, f->message);
        }
    }
    const CodeLocation& location = std::get<CodeLocation>(located);

    std::optional<varko::macho::Architecture> architecture;
    if (options.architecture) {
        architecture = varko::macho::parseArchitecture(*options.architecture);
        if (!architecture) return fail(path, "unknown architecture " + *options.architecture);
    }
    // Without -a the slice shown is the one a current Mac runs, whatever this machine is.
    auto loaded = loadCodeObject(
        location, architecture,
        options.verbose > 0 ? SignatureRead::WithoutPageHashes : SignatureRead::Entitlements);
    if (const auto* e = std::get_if<LoadError>(&loaded)) {
        switch (e->kind) {
            case LoadError::Kind::NotMachO:
                return fail(path, "bundle format unrecognized, invalid, or unsuitable");
            case LoadError::Kind::MalformedExecutable:
                return fail(path, "main executable is malformed: " + e->message);
            case LoadError::Kind::MalformedSignature:
                return fail(path, "invalid or unsupported format for signature: " + e->message);
            case LoadError::Kind::Unreadable:
                return fail(path, e->message);
            case LoadError::Kind::NoSuchArchitecture:
                return fail(path, "the executable has no code for architecture " + *options.architecture);
        }
    }
    const CodeObject& code = std::get<CodeObject>(loaded);
    if (!code.signature) return fail(path, "code object is not signed at all");

    std::error_code ec;
    auto shown = std::filesystem::absolute(code.executable, ec);
    if (!ec) shown = std::filesystem::weakly_canonical(shown, ec);
    std::cerr << "Executable=" << (ec ? code.executable : shown).string() << '\n';
    if (options.verbose > 0) {
        std::string format = location.isApp ? "app bundle with " : location.infoPlist ? "bundle with " : "";
        format += code.universal ? "Mach-O universal (" : "Mach-O thin (";
        for (std::size_t i = 0; i < code.architectures.size(); ++i)
            format += (i ? " " : "") + code.architectures[i];
        format += ")";
        const std::string error = writeDetails(code, location, format, std::cerr);
        if (!error.empty()) return fail(path, error);
    }
    if (options.entitlements) {
        const std::string error =
            writeEntitlements(*code.signature, *options.entitlements, std::cout);
        if (!error.empty())
            return fail(path, "invalid or unsupported format for signature: " + error);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Paths stay the bytes they came as: a name that is not UTF-8 is still a name.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        const ParsedOptions parsed = parseOptions(arguments);
        if (!parsed.options) {
            std::cerr << "varko-codesign: " << parsed.error << '\n' << usage();
            return usageError;
        }
        return display(*parsed.options);
    } catch (const std::exception& e) {
        // The readers return their errors; this is the last guard, so that nothing aborts.
        std::cerr << "varko-codesign: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "varko-codesign: unexpected failure\n";
    }
    return failure;
}
