// varko-spctl: what `spctl --assess` answers, from the files themselves: the code against its
// signature, the signature against Apple's pinned roots, and Gatekeeper's source rules.
#include <iostream>
#include <string>
#include <vector>

#include "systools/spctl/spctltool.h"
#include "systools/standardoptions.h"

int main(int argc, char** argv) {
    const std::string help = varko::spctl::spctlHelp();
    if (const auto answered =
            varko::answerHelpOrVersion(argc, argv, "varko-spctl", VARKO_VERSION, help.c_str()))
        return *answered;
    // Paths stay the bytes they came as: a name that is not UTF-8 is still a name.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return varko::spctl::runSpctl(arguments, std::cerr);
}
