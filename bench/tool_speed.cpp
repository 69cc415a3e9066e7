// How the stand-ins' cost grows with the code they check, measured against sha256sum and
// openssl on the same file in the same run: varko-spctl must hash every page (targets: at
// most 1.25x sha256sum on a thin 200 MB file; at most 0.75x `openssl dgst -sha256` on a
// universal one of two 100 MB slices, so its pages must be hashed on every core), and
// varko-codesign -dvvv must not read the pages at all (target: a 200 MB executable no
// slower than a 1 MB one). It still hashes the 200 MB one's 1.6 MB code directory for its
// cdhash, which is where what is left of that difference goes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures/machowriter.h"

namespace {

double medianSeconds(const std::string& command, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((command + " >/dev/null 2>&1").c_str()) == -1) return -1;
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void appendBE32(std::vector<char>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

/// A universal file of two sparse slices, each `sliceSize` bytes; written with holes where
/// the slices have them, so it costs little disk.
bool writeSparseUniversal(const std::filesystem::path& path, std::uint64_t sliceSize) {
    namespace fs = std::filesystem;
    using varko::examplegen::Arch;
    constexpr std::uint64_t align = 1u << 14;
    std::vector<char> header;
    appendBE32(header, 0xcafebabe);
    appendBE32(header, 2);
    std::vector<std::pair<fs::path, std::uint64_t>> parts;
    std::uint64_t at = align;
    for (Arch arch : {Arch::X86_64, Arch::Arm64}) {
        varko::examplegen::MachOOptions options;
        options.arch = arch;
        const fs::path part = path.string() + (arch == Arch::X86_64 ? ".x86_64" : ".arm64");
        if (!varko::examplegen::writeSparseMachO(part, sliceSize, options)) return false;
        appendBE32(header, varko::examplegen::cpuType(arch));
        appendBE32(header, varko::examplegen::cpuSubtype(arch));
        appendBE32(header, static_cast<std::uint32_t>(at));
        appendBE32(header, static_cast<std::uint32_t>(sliceSize));
        appendBE32(header, 14);
        parts.emplace_back(part, at);
        at = (at + sliceSize + align - 1) / align * align;
    }
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
    }
    fs::resize_file(path, at);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    std::vector<char> block(1 << 16);
    for (const auto& [part, offset] : parts) {
        std::ifstream in(part, std::ios::binary);
        for (std::uint64_t done = 0;
             in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount();) {
            const auto n = static_cast<std::size_t>(in.gcount());
            if (std::any_of(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n),
                            [](char c) { return c; })) {
                out.seekp(static_cast<std::streamoff>(offset + done));
                out.write(block.data(), static_cast<std::streamsize>(n));
            }
            done += n;
        }
        fs::remove(part);
    }
    return static_cast<bool>(out);
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
    const fs::path universal = dir / "universal";
    if (!writeSparseUniversal(universal, 100u << 20)) {
        std::fprintf(stderr, "tool_speed: cannot write the universal executable in %s\n",
                     dir.c_str());
        return 1;
    }
    const std::string spctl = (bin / "varko-spctl").string() + " -a " + big.string();
    const std::string sha = "sha256sum " + big.string();
    const std::string codesign = (bin / "varko-codesign").string() + " -dvvv ";
    const double tSpctl = medianSeconds(spctl, runs), tSha = medianSeconds(sha, runs);
    const double tUniversal =
        medianSeconds((bin / "varko-spctl").string() + " -a " + universal.string(), runs);
    const double tOpenssl = medianSeconds("openssl dgst -sha256 " + universal.string(), runs);
    const double tBig = medianSeconds(codesign + big.string(), runs);
    const double tSmall = medianSeconds(codesign + small.string(), runs);
    std::printf("varko-spctl -a (200 MB)      %8.3f s\n", tSpctl);
    std::printf("sha256sum (200 MB)           %8.3f s\n", tSha);
    std::printf("  ratio                      %8.2f  (target <= 1.25)\n", tSpctl / tSha);
    std::printf("varko-spctl -a (universal, 2 x 100 MB) %8.3f s\n", tUniversal);
    std::printf("openssl dgst -sha256 (same file)       %8.3f s\n", tOpenssl);
    std::printf("  ratio                      %8.2f  (target <= 0.75)\n", tUniversal / tOpenssl);
    std::printf("varko-codesign -dvvv (200 MB) %7.4f s\n", tBig);
    std::printf("varko-codesign -dvvv (1 MB)   %7.4f s\n", tSmall);
    std::printf("  ratio                      %8.2f  (target <= 1)\n", tBig / tSmall);
    // --keep leaves the executables for a profiler.
    if (argc > 2 && std::string(argv[2]) == "--keep")
        std::printf("kept in %s\n", dir.c_str());
    else
        fs::remove_all(dir);
    return 0;
}
