// How the stand-ins' cost grows with the code they check, measured against sha256sum on
// the same file in the same run: varko-spctl must hash every page (target: at most 1.25x
// sha256sum), varko-codesign -dvvv must not read the pages at all (target: a 200 MB
// executable no slower than a 1 MB one). It still hashes the 200 MB one's 1.6 MB code
// directory for its cdhash, which is where what is left of the difference goes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gen/machowriter.h"

namespace {

double medianSeconds(const std::string& command, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((command + " >/dev/null 2>&1").c_str()) == -1) return -1;
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path bin = fs::path(argv[0]).parent_path();
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path dir = fs::temp_directory_path() / "varko-tool-speed";
    fs::create_directories(dir);
    const fs::path big = dir / "big", small = dir / "small";
    varko::examplegen::MachOOptions options;
    options.arch = varko::examplegen::Arch::X86_64;
    if (!varko::examplegen::writeSparseMachO(big, 200u << 20, options) ||
        !varko::examplegen::writeSparseMachO(small, 1u << 20, options)) {
        std::fprintf(stderr, "tool_speed: cannot write the executables in %s\n", dir.c_str());
        return 1;
    }
    const std::string spctl = (bin / "varko-spctl").string() + " -a " + big.string();
    const std::string sha = "sha256sum " + big.string();
    const std::string codesign = (bin / "varko-codesign").string() + " -dvvv ";
    const double tSpctl = medianSeconds(spctl, runs), tSha = medianSeconds(sha, runs);
    const double tBig = medianSeconds(codesign + big.string(), runs);
    const double tSmall = medianSeconds(codesign + small.string(), runs);
    std::printf("varko-spctl -a (200 MB)      %8.3f s\n", tSpctl);
    std::printf("sha256sum (200 MB)           %8.3f s\n", tSha);
    std::printf("  ratio                      %8.2f  (target <= 1.25)\n", tSpctl / tSha);
    std::printf("varko-codesign -dvvv (200 MB) %7.4f s\n", tBig);
    std::printf("varko-codesign -dvvv (1 MB)   %7.4f s\n", tSmall);
    std::printf("  ratio                      %8.2f  (target <= 1)\n", tBig / tSmall);
    // --keep leaves the executables for a profiler.
    if (argc > 2 && std::string(argv[2]) == "--keep") std::printf("kept in %s\n", dir.c_str());
    else fs::remove_all(dir);
    return 0;
}
