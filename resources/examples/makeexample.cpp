// varko-mkexample OUTDIR: writes OUTDIR/Example.app, replacing an earlier one.
#include <cstdio>
#include <cstring>

#include "fixtures/exampleapp.h"

namespace {

constexpr const char* usage =
    "usage: varko-mkexample [--] OUTDIR\n"
    "Writes OUTDIR/Example.app, an ad hoc signed universal app bundle, replacing an earlier one.\n"
    "  -h, --help     show this text\n"
    "  --version      show the version\n";

}  // namespace

int main(int argc, char** argv) {
    const char* outDir = nullptr;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded &&
                   (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
            std::fputs(usage, stdout);
            return 0;
        } else if (!optionsEnded && std::strcmp(arg, "--version") == 0) {
            std::printf("varko-mkexample %s\n", VARKO_VERSION);
            return 0;
        } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "varko-mkexample: unknown option %s\n%s", arg, usage);
            return 2;
        } else if (outDir) {
            std::fprintf(stderr, "varko-mkexample: one output folder only\n%s", usage);
            return 2;
        } else {
            outDir = arg;
        }
    }
    if (!outDir) {
        std::fputs(usage, stderr);
        return 2;
    }
    auto app = varko::examplegen::writeExampleApp(outDir);
    if (!app) {
        std::fprintf(stderr, "varko-mkexample: %s\n", app.error().message.c_str());
        return 1;
    }
    return 0;
}
