// varko-codesign: what `codesign --display` shows and what `codesign --verify` finds, read from
// the files themselves.
#include <iostream>
#include <string>
#include <vector>

#include "systools/codesign/codesigntool.h"
#include "systools/standardoptions.h"

int main(int argc, char** argv) {
    const std::string help = varko::codesign::codesignHelp();
    if (const auto answered =
            varko::answerHelpOrVersion(argc, argv, "varko-codesign", VARKO_VERSION, help.c_str()))
        return *answered;
    // Paths stay the bytes they came as: a name that is not UTF-8 is still a name.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return varko::codesign::runCodesign(arguments, std::cout, std::cerr);
}
