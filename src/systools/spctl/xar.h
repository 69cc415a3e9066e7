#pragma once

#include <filesystem>
#include <string>
#include <variant>

namespace varko::spctl {

/// What the table of contents of an installer package (a xar archive) says of its signature.
enum class PackageSignature { None, Present };

/// Reads the header and the compressed table of contents of a xar archive, within bounds.
/// A file that is no xar archive, or a broken one, gives the problem in words.
[[nodiscard]] std::variant<PackageSignature, std::string> packageSignature(const std::filesystem::path& path);

}  // namespace varko::spctl
