// varko-pkgutil: what `pkgutil --check-signature` answers, from the package itself: the
// table of contents against its checksum, the signature over it, the chain to Apple's roots.
#include <iostream>
#include <string>
#include <vector>

#include "systools/pkgutil/pkgutiltool.h"
#include "systools/standardoptions.h"

int main(int argc, char** argv) {
    constexpr auto help =
        "Usage: varko-pkgutil --check-signature PKG\n"
        "Checks an installer package's signature as `pkgutil --check-signature` does:\n"
        "its table of contents, its signature and the chain to Apple's roots.\n";
    if (const auto answered =
            varko::answerHelpOrVersion(argc, argv, "varko-pkgutil", VARKO_VERSION, help))
        return *answered;
    // The path stays the bytes it came as: a name that is not UTF-8 is still a name.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return varko::pkgutil::runPkgutil(arguments, std::cout, std::cerr);
}
