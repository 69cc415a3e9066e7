#include "systools/codesign/options.h"

namespace varko::codesign {

namespace {

Error fail(std::string message) {
    return Error{0, std::move(message), ErrorCode::malformed};
}

}  // namespace

const char* usage() {
    return "Usage: varko-codesign -d|--display [-v...] [-a arch] [--entitlements :-|-|[:]path] "
           "[-r -|path] path\n"
           "       varko-codesign -v|--verify [-v...] [-R =requirement|path] path\n";
}

Expected<Options> parseOptions(std::span<const std::string> arguments) {
    Options o;
    bool havePath = false;
    bool optionsEnded = false;
    bool verifyNamed = false;
    int shortV = 0;
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
        } else if (a == "--verify") {
            verifyNamed = true;
        } else if (a == "--verbose") {
            ++o.verbose;
        } else if (a.size() > 1 && a[1] != '-' &&
                   a.find_first_not_of("dv", 1) == std::string::npos) {
            // Short options cluster as in -dvvv.
            for (char c : a.substr(1)) c == 'd' ? void(o.display = true) : void(++shortV);
        } else if (a == "-R" || a == "--test-requirement") {
            if (i + 1 >= arguments.size()) return fail("option " + a + " needs a requirement");
            o.testRequirement = arguments[++i];
        } else if (a.rfind("-R", 0) == 0 || a.rfind("--test-requirement=", 0) == 0) {
            // -R=TEXT reaches us as "-R=TEXT": the '=' marks text, as codesign reads it.
            o.testRequirement = a.substr(a[1] == 'R' ? 2 : sizeof("--test-requirement=") - 1);
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
    // A lone -v asks to verify; with -d, or after --verify, each -v says more.
    if (o.display) {
        o.verbose += shortV;
    } else if (verifyNamed || shortV > 0) {
        o.verify = true;
        o.verbose += verifyNamed ? shortV : shortV - 1;
    }
    if (o.display && verifyNamed) return fail("only one operation can be given");
    if (!o.display && !o.verify) return fail("no operation given; --display or --verify");
    if (o.testRequirement && !o.verify) return fail("option -R is for --verify");
    if (o.testRequirement && o.testRequirement->empty())
        return fail("option -R needs a requirement");
    if (!havePath) return fail("no path given");
    return o;
}

}  // namespace varko::codesign
