#include "package/extraction.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#include "format/macho/machofile.h"

namespace varko::package {

namespace {

namespace fs = std::filesystem;

/// A relative path that stays where it starts: no "..", no root, no empty name.
bool staysInside(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        if (path.compare(from, to - from, "..") == 0) return false;
        from = to + 1;
    }
    return true;
}

Error refused(const std::string& path, const std::string& why) {
    return Error{0, path + ": " + why, ErrorCode::refused};
}

}  // namespace

PrivateFolder::PrivateFolder() {
    std::error_code error;
    std::string name = (fs::temp_directory_path(error) / "varko-pkg-XXXXXX").string();
    if (!error && ::mkdtemp(name.data())) folder = name;
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    if (!folder.empty()) fs::remove_all(folder, ignored);
}

namespace {

/// What a folder's name says it holds, if code.
std::optional<CodeKind> bundleKind(std::string_view name) {
    static constexpr std::pair<std::string_view, CodeKind> suffixes[] = {
        {".app", CodeKind::app},
        {".framework", CodeKind::framework},
        {".bundle", CodeKind::plugIn},
        {".plugin", CodeKind::plugIn},
        {".appex", CodeKind::plugIn},
        {".xpc", CodeKind::plugIn},
        {".kext", CodeKind::plugIn},
        {".systemextension", CodeKind::plugIn},
        {".qlgenerator", CodeKind::plugIn},
        {".mdimporter", CodeKind::plugIn},
        {".saver", CodeKind::plugIn},
        {".prefPane", CodeKind::plugIn},
    };
    for (const auto& [suffix, kind] : suffixes)
        if (name.size() > suffix.size() && name.ends_with(suffix)) return kind;
    return std::nullopt;
}

/// The outermost code bundle that `path` lies in, or is: "A.app" of "A.app/Contents/x".
std::optional<std::pair<std::string, CodeKind>> outermostBundle(const std::string& path) {
    std::size_t from = 0;
    while (from < path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        if (const auto kind = bundleKind(std::string_view(path).substr(from, to - from)))
            return std::pair{path.substr(0, to), *kind};
        from = to + 1;
    }
    return std::nullopt;
}

}  // namespace

const char* codeKindName(CodeKind kind) {
    switch (kind) {
        case CodeKind::app:
            return "app";
        case CodeKind::framework:
            return "framework";
        case CodeKind::plugIn:
            return "plug-in";
        case CodeKind::machO:
            break;
    }
    return "mach-o";
}

ExtractionWriter::ExtractionWriter(const Extraction& extraction, std::size_t component,
                                   std::uint64_t& written)
    : extraction(extraction),
      folder(extraction.root / std::to_string(component)),
      written(written) {}

std::optional<Error> ExtractionWriter::ready(const std::string& path) const {
    if (!staysInside(path)) return refused(path, "the path leaves the folder it installs into");
    // Every folder on the way must be one this writer made, never a link it was given.
    fs::path at = folder;
    std::error_code error;
    const fs::path relative(path);
    for (auto part = relative.begin(); part != relative.end(); ++part) {
        if (std::next(part) == relative.end()) break;
        at /= *part;
        const fs::file_status status = fs::symlink_status(at, error);
        if (status.type() == fs::file_type::not_found) {
            if (::mkdir(at.c_str(), 0700) != 0 && errno != EEXIST)
                return Error{0, path + ": " + std::strerror(errno), ErrorCode::unwritable};
        } else if (status.type() != fs::file_type::directory) {
            return refused(path, "it lies under a link or a file, not a folder");
        }
    }
    return std::nullopt;
}

std::optional<Error> ExtractionWriter::write(archive* a, archive_entry* entry,
                                             const std::string& path) {
    auto piece = path == "." ? std::nullopt : outermostBundle(path);
    std::array<char, 64 * 1024> buffer{};
    la_ssize_t first = 0;  // bytes of the file already read into the buffer
    if (!piece) {
        // A loose Mach-O file, by its first bytes whatever its name: a tool or a library.
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry))
            return std::nullopt;
        first = archive_read_data(a, buffer.data(), buffer.size());
        if (first < 4 ||
            !macho::looksLikeMachO(std::as_bytes(std::span(buffer.data(), std::size_t(first)))))
            return std::nullopt;
        piece = std::pair{path, CodeKind::machO};
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return Error{0, folder.string() + ": " + std::strerror(errno), ErrorCode::unwritable};
    if (auto wrong = ready(path)) return wrong;
    // Found by any entry in it: a payload need not list a bundle's folder before its files.
    if (std::none_of(found.begin(), found.end(),
                     [&](const auto& known) { return known.first == piece->first; }))
        found.push_back(*piece);
    const fs::path target = folder / path;
    const unsigned mode = archive_entry_perm(entry) & 0755;  // no setuid, setgid or others' writes
    if (const char* link = archive_entry_hardlink(entry)) {
        std::string from = link;
        while (from.starts_with("./")) from.erase(0, 2);
        if (!staysInside(from) || !outermostBundle(from))
            return refused(path, "a hard link to a file outside the app");
        if (::link((folder / from).c_str(), target.c_str()) != 0)
            return Error{0, path + ": " + std::strerror(errno), ErrorCode::unwritable};
        return std::nullopt;
    }
    switch (archive_entry_filetype(entry)) {
        case AE_IFDIR: {
            if (::mkdir(target.c_str(), 0700) != 0 && errno != EEXIST)
                return Error{0, path + ": " + std::strerror(errno), ErrorCode::unwritable};
            return std::nullopt;
        }
        case AE_IFLNK: {
            const std::string to = archive_entry_symlink(entry) ? archive_entry_symlink(entry) : "";
            // Resolved where the link sits, it must stay in this component's folder.
            const fs::path resolved = (fs::path(path).parent_path() / to).lexically_normal();
            if (to.empty() || to.front() == '/' || !staysInside(resolved.string()))
                return refused(path, "a link that points out of the folder");
            if (::symlink(to.c_str(), target.c_str()) != 0)
                return Error{0, path + ": " + std::strerror(errno), ErrorCode::unwritable};
            return std::nullopt;
        }
        case AE_IFREG:
            break;
        default:
            return refused(path, "a device node, pipe or socket is not written");
    }
    const int fd =
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Error{0, path + ": " + std::strerror(errno), ErrorCode::unwritable};
    std::optional<Error> failed;
    for (;;) {
        const la_ssize_t n = first > 0 ? std::exchange(first, 0)
                                       : archive_read_data(a, buffer.data(), buffer.size());
        if (n < 0) {
            failed = Error{
                0, path + ": " + (archive_error_string(a) ? archive_error_string(a) : "unreadable"),
                ErrorCode::malformed};
            break;
        }
        if (n == 0) break;
        if (written + std::uint64_t(n) > extraction.maxBytes) {
            failed = Error{written,
                           "the apps inside the package take more than " +
                               std::to_string(extraction.maxBytes >> 20) + " MiB",
                           ErrorCode::tooLarge};
            break;
        }
        if (::write(fd, buffer.data(), std::size_t(n)) != n) {
            failed = Error{0, path + ": " + std::strerror(errno), ErrorCode::unwritable};
            break;
        }
        written += std::uint64_t(n);
    }
    ::fchmod(fd, mode);
    ::close(fd);
    return failed;
}

}  // namespace varko::package
