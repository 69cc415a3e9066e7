#pragma once

// A folder of the fuzz target's own under the temporary directory, made on first use and
// removed at exit, for code under test that reads paths rather than bytes.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <system_error>

namespace varko::fuzzing {

inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path dir = [] {
        // Memory-backed where there is such a folder: a tree is made and removed per input.
        std::error_code ec;
        const std::filesystem::path shm = "/dev/shm";
        const auto parent =
            std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
        std::string name = (parent / "varko-fuzz-XXXXXX").string();
        if (!mkdtemp(name.data())) std::abort();
        return std::filesystem::path(name);
    }();
    static const int removal = std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    });
    (void)removal;
    return dir;
}

/// `bytes` as the file `name` in the scratch folder, replacing what an earlier run left.
inline std::filesystem::path scratchFile(const char* name, std::span<const std::uint8_t> bytes) {
    const auto path = scratchFolder() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) std::abort();
    return path;
}

}  // namespace varko::fuzzing
