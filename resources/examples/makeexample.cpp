// varko-mkexample OUTDIR: writes OUTDIR/Example.app, replacing an earlier one.
#include <cstdio>

#include "gen/exampleapp.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: varko-mkexample OUTDIR\n");
        return 2;
    }
    auto app = varko::examplegen::writeExampleApp(argv[1]);
    if (!app) {
        std::fprintf(stderr, "varko-mkexample: %s\n", app.error().message.c_str());
        return 1;
    }
    return 0;
}
