#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "format/expected.h"

struct archive;
struct archive_entry;

namespace varko::package {

/// What a package's apps may take on disk when written out, in all.
inline constexpr std::uint64_t maxExtractedBytes = 4ull << 30;

/// Where and how much of a package's apps may be written to be inspected.
struct Extraction {
    std::filesystem::path root;                  ///< a private folder the caller made and removes
    std::uint64_t maxBytes = maxExtractedBytes;  ///< written in all: what reaches the disk
};

/// What a piece of code that a payload installs is.
enum class CodeKind {
    app,
    framework,
    plugIn,  ///< any other code bundle: a plug-in, extension, XPC service, kernel extension
    machO,   ///< a Mach-O file in no bundle: a tool, a library
};

/// "app", "framework", "plug-in", "mach-o".
[[nodiscard]] const char* codeKindName(CodeKind kind);

/// A piece of code of a payload, outside any other, written out: an app or other bundle
/// with everything in it, or a loose Mach-O file.
struct ExtractedApp {
    std::string installedPath;     ///< where the package would put it
    std::filesystem::path onDisk;  ///< its copy under the extraction's root
    CodeKind kind = CodeKind::app;
    /// The folder of its copy that stands for the install location.
    std::filesystem::path copyBase;
};

/// Writes the entries of one component's payload that are code (see ExtractedApp), under
/// root/<component number>/, and nothing anywhere else: an entry whose path leaves the
/// folder (`..`, absolute), a link pointing out of it or a path through a link, a device
/// node, FIFO or socket is refused and named; setuid, setgid and the write bits for
/// others are dropped. Bytes count against the extraction's bound.
class ExtractionWriter {
public:
    ExtractionWriter(const Extraction& extraction, std::size_t component, std::uint64_t& written);

    /// Writes the current entry of `a` at `path` (as the listing names it, without "./")
    /// when it is code or lies in a code bundle; a refusal or failure for it, a tooLarge
    /// error to stop all.
    [[nodiscard]] std::optional<Error> write(archive* a, archive_entry* entry,
                                             const std::string& path);
    /// The pieces written, their paths relative to this component's folder.
    [[nodiscard]] const std::vector<std::pair<std::string, CodeKind>>& pieces() const {
        return found;
    }
    [[nodiscard]] std::filesystem::path base() const { return folder; }

private:
    [[nodiscard]] std::optional<Error> ready(const std::string& path) const;

    const Extraction& extraction;
    std::filesystem::path folder;
    std::uint64_t& written;
    std::vector<std::pair<std::string, CodeKind>> found;
};

/// A folder only this user may enter (mode 0700, under the system's temporary folder),
/// removed with everything in it when this goes; empty when it could not be made.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return folder; }

private:
    std::filesystem::path folder;
};

}  // namespace varko::package
