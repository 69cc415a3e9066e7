#include "app/commandline.h"

#include <cstdio>
#include <cstring>

#include "tools/pathbytes.h"

namespace varko {

namespace {

constexpr auto help =
    "Usage: varko [OPTION]... [--] [ITEM]...\n"
    "Shows what macOS app bundles (.app) and installer packages (.pkg) declare about\n"
    "privacy and how they are signed, and browses privacy-related entries of the log.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "  --             take every later argument as an item, even one starting with '-'\n"
    "\n"
    "Each ITEM opens in a window of its own. Qt's options (such as -platform) apply too.\n";

}  // namespace

std::optional<int> answerCommandLine(int argc, char** argv, const char* version) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--") == 0) break;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::fputs(help, stdout);
        } else if (std::strcmp(argument, "--version") == 0) {
            std::printf("varko %s\n", version);
        } else {
            continue;
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return std::nullopt;
}

QStringList commandLineItems(int argc, char** argv) {
    QStringList items;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (!optionsEnded && std::strcmp(argv[i], "--") == 0) {
            optionsEnded = true;
            continue;
        }
        items << host::pathFromSystem(argv[i]);
    }
    return items;
}

}  // namespace varko
