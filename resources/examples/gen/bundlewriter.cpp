#include "gen/bundlewriter.h"

#include <system_error>

#include "gen/machowriter.h"

namespace varko::examplegen {

Expected<std::filesystem::path> writeBundle(const std::filesystem::path& appDir,
                                            std::string_view infoPlist,
                                            std::string_view executableName,
                                            std::span<const std::byte> executable) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(appDir, ec);
    const fs::path macos = appDir / "Contents" / "MacOS";
    fs::create_directories(macos, ec);
    if (ec) return Error{0, macos.string() + ": " + ec.message()};

    auto plist = writeFile(appDir / "Contents" / "Info.plist",
                           std::as_bytes(std::span(infoPlist.data(), infoPlist.size())));
    if (!plist) return plist.error();
    const fs::path exe = macos / fs::path(std::string(executableName));
    auto written = writeFile(exe, executable, true);
    if (!written) return written.error();
    return exe;
}

}  // namespace varko::examplegen
