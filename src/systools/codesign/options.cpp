#include "systools/codesign/options.h"

namespace varko::codesign {

namespace {

Error fail(std::string message) {
    return Error{0, std::move(message), ErrorCode::malformed};
}

}  // namespace

const char* usage() {
    return "Usage: varko-codesign -d|--display [-v...] [-a arch] [--entitlements :-|-|[:]path] "
           "[-r -|path] path\n";
}

Expected<Options> parseOptions(std::span<const std::string> arguments) {
    Options o;
    bool havePath = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            if (havePath) return fail("only one path can be displayed at a time");
            o.path = a;
            havePath = true;
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--display") {
            o.display = true;
        } else if (a == "--verbose") {
            ++o.verbose;
        } else if (a.size() > 1 && a[1] != '-' &&
                   a.find_first_not_of("dv", 1) == std::string::npos) {
            // Short options cluster as in -dvvv.
            for (char c : a.substr(1)) c == 'd' ? void(o.display = true) : void(++o.verbose);
        } else if (a == "-a" || a == "--architecture" || a == "--arch") {
            if (i + 1 >= arguments.size()) return fail("option " + a + " needs an architecture");
            o.architecture = arguments[++i];
        } else if (a == "-r" || a == "--requirements") {
            // As codesign takes it: -r-, -r PATH, --requirements=PATH.
            if (i + 1 >= arguments.size()) return fail("option " + a + " needs a destination");
            o.requirements = arguments[++i];
        } else if (a.rfind("-r", 0) == 0 || a.rfind("--requirements=", 0) == 0) {
            o.requirements = a.substr(a[1] == 'r' ? 2 : sizeof("--requirements=") - 1);
            if (o.requirements->empty()) return fail("option --requirements needs a destination");
        } else if (a == "--entitlements" || a.rfind("--entitlements=", 0) == 0) {
            if (a.size() > sizeof("--entitlements") - 1) {
                o.entitlements = a.substr(sizeof("--entitlements=") - 1);
            } else if (i + 1 < arguments.size()) {
                o.entitlements = arguments[++i];
            } else {
                return fail("option --entitlements needs an argument");
            }
            if (o.entitlements->empty() || *o.entitlements == ":")
                return fail("option --entitlements needs a destination");
        } else {
            return fail("unrecognized option `" + a + "'");
        }
    }
    if (!o.display) return fail("no operation given; only --display is supported");
    if (!havePath) return fail("no path given");
    return o;
}

}  // namespace varko::codesign
