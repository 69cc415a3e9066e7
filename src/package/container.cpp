#include "package/container.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "package/sevenziplisting.h"
#include "tools/pathbytes.h"
#include "tools/toolrun.h"

namespace varko::package {

namespace {

namespace fs = std::filesystem;

bool endsWithNoCase(std::string_view name, std::string_view suffix) {
    return name.size() > suffix.size() &&
           std::equal(suffix.rbegin(), suffix.rend(), name.rbegin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

/// The file's name as messages quote it.
std::string quoted(const fs::path& path) {
    return "\xE2\x80\x9C" + printable(path.filename().native()) + "\xE2\x80\x9D";
}

/// What 7-Zip said went wrong, without the private folder's path.
std::string toolWords(const QByteArray& standardError, const std::string& hidden,
                      const std::string& shown) {
    std::string text = standardError.toStdString();
    if (text.find("Cannot open the file as") != std::string::npos)
        return "it is no disk image or archive that 7-Zip knows";
    for (std::size_t at; !hidden.empty() && (at = text.find(hidden)) != std::string::npos;)
        text.replace(at, hidden.size(), shown);
    std::string words;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string::npos) to = text.size();
        std::string_view line = std::string_view(text).substr(from, to - from);
        from = to + 1;
        if (line.empty() || line.find("ERROR") == std::string_view::npos) continue;
        if (!words.empty()) words += "; ";
        words += line;
        if (words.size() > 200) break;
    }
    return printable(words.empty() ? "no reason given" : words);
}

/// 7-Zip's words for a link it did not write because it points out: the run fails, but
/// all else is written. Empty when some other error is among its words.
std::vector<std::string> ignoredLinks(const QByteArray& standardError) {
    static constexpr std::string_view ignored = "ERROR: Dangerous link path was ignored : ";
    std::vector<std::string> links;
    const std::string text = standardError.toStdString();
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string::npos) to = text.size();
        const std::string_view line = std::string_view(text).substr(from, to - from);
        from = to + 1;
        if (line.starts_with(ignored))
            links.emplace_back(line.substr(ignored.size()));
        else if (line.find("ERROR") != std::string_view::npos)
            return {};
    }
    return links;
}

/// The magic of Apple's encrypted disk images, at the start (version 2) or the end (1).
bool encryptedImage(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char head[8] = {};
    if (in.read(head, sizeof head) && std::string_view(head, 8) == "encrcdsa") return true;
    in.clear();
    in.seekg(-8, std::ios::end);
    return in.read(head, sizeof head) && std::string_view(head, 8) == "cdsaencr";
}

/// Bytes and entries written so far, counted while 7-Zip writes; stops counting past
/// the bounds.
struct Usage {
    std::uint64_t bytes = 0;
    std::uint64_t files = 0;
};

Usage measure(const fs::path& root, const ContainerBudget& budget) {
    Usage usage;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        ++usage.files;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
            usage.bytes += std::uint64_t(std::max<off_t>(st.st_size, 0));
        if (usage.files > budget.maxFiles || usage.bytes > budget.maxBytes) break;
    }
    return usage;
}

std::string overBudget(const Usage& usage, const ContainerBudget& budget) {
    if (usage.bytes > budget.maxBytes)
        return "it expands to more than " + std::to_string(budget.maxBytes >> 20) + " MiB";
    if (usage.files > budget.maxFiles)
        return "it holds more than " + std::to_string(budget.maxFiles) + " entries";
    return {};
}

/// Runs 7-Zip, ending it when the caller calls it off or, with `watched` set, when what it
/// has written passes the budget (said in `overrun`).
host::ToolResult runSevenZip(const QStringList& arguments, const ContainerBudget& budget,
                             const fs::path* watched, std::string& overrun) {
    host::ToolLimits limits;
    limits.maxBytesPerStream = qint64(256) << 20;
    limits.maxErrorBytes = qint64(64) << 10;
    limits.timeout = budget.timeLimit;
    limits.cancel = std::make_shared<std::atomic<bool>>(false);
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    std::thread watcher([&] {
        auto pause = std::chrono::milliseconds(100);
        std::unique_lock guard(lock);
        while (!done) {
            wake.wait_for(guard, pause);
            if (done) break;
            if (budget.cancel && budget.cancel->load()) limits.cancel->store(true);
            if (!watched) continue;
            const auto start = std::chrono::steady_clock::now();
            const Usage usage = measure(*watched, budget);
            if (std::string why = overBudget(usage, budget); !why.empty()) {
                overrun = std::move(why);
                limits.cancel->store(true);
            }
            // A large tree is walked less often, so that counting never costs more than a
            // fifth of the time.
            pause = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   (std::chrono::steady_clock::now() - start) * 4),
                               std::chrono::milliseconds(100), std::chrono::milliseconds(1000));
        }
    });
    host::ToolResult result =
        host::runProgram(host::pathFromSystem(QByteArray::fromStdString(budget.sevenZip.native())),
                         arguments, host::Capture::Both, limits);
    {
        const std::lock_guard guard(lock);
        done = true;
    }
    wake.notify_all();
    watcher.join();
    return result;
}

/// Whether the link stays in `root`: by its words, and where it leads now.
bool linkStaysInside(const fs::path& link, const fs::path& root, const fs::path& realRoot) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    if (error || target.empty() || target.is_absolute()) return false;
    const fs::path relative =
        (link.parent_path().lexically_relative(root) / target).lexically_normal();
    if (relative.empty() || *relative.begin() == "..") return false;
    char* real = ::realpath(link.c_str(), nullptr);
    if (!real) return errno == ENOENT || errno == ELOOP;
    const std::string resolved = real;
    std::free(real);
    return resolved == realRoot.native() || resolved.starts_with(realRoot.native() + "/");
}

/// Makes what 7-Zip wrote safe to read and to remove: links out, device nodes and pipes
/// go; setuid, setgid and others' write bits are dropped; folders are made the user's to
/// enter and empty.
void sanitize(const fs::path& root, const ContainerBudget& budget, ExpandedContainer& out) {
    char* real = ::realpath(root.c_str(), nullptr);
    const fs::path realRoot = real ? fs::path(real) : root;
    std::free(real);
    std::vector<fs::path> links, strange;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        const std::string inside = it->path().lexically_relative(root).string();
        if (S_ISLNK(st.st_mode)) {
            links.push_back(it->path());
        } else if (S_ISDIR(st.st_mode)) {
            ::chmod(it->path().c_str(), (st.st_mode & 0755) | 0700);
            if (std::size_t(it.depth()) >= budget.maxDepth) it.disable_recursion_pending();
        } else if (S_ISREG(st.st_mode)) {
            ::chmod(it->path().c_str(), (st.st_mode & 0755) | 0600);
        } else {
            strange.push_back(it->path());
            out.problems.push_back(
                Error{0, printable(inside) + ": a device node, pipe or socket is not kept",
                      ErrorCode::refused});
        }
    }
    for (const fs::path& link : links) {
        if (linkStaysInside(link, root, realRoot)) continue;
        strange.push_back(link);
        out.problems.push_back(Error{0,
                                     printable(link.lexically_relative(root).string()) +
                                         ": a link that points out of the container is not kept",
                                     ErrorCode::refused});
    }
    for (const fs::path& path : strange) fs::remove(path, error);
}

/// The app bundles under `root`, none inside another, bounded in depth.
void findApps(const fs::path& root, const ContainerBudget& budget, ExpandedContainer& out) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().native();
        if (!it->is_directory(error) || it->is_symlink(error)) continue;
        if (name == "__MACOSX") {
            it.disable_recursion_pending();  // a zip's AppleDouble shadows, not apps
            continue;
        }
        if (endsWithNoCase(name, ".app")) {
            out.apps.push_back(it->path());
            it.disable_recursion_pending();
        } else if (std::size_t(it.depth()) + 1 >= budget.maxAppDepth) {
            it.disable_recursion_pending();
        }
    }
    std::sort(out.apps.begin(), out.apps.end());
    for (const fs::path& app : out.apps) out.pathsInside.push_back(app.lexically_relative(root));
}

Error refusedContainer(const fs::path& path, const std::string& why,
                       ErrorCode code = ErrorCode::refused) {
    return Error{0, "Varko won't open " + quoted(path) + ": " + why + ".", code, path.string()};
}

}  // namespace

std::optional<ContainerKind> containerKindForName(std::string_view name) {
    if (endsWithNoCase(name, ".dmg")) return ContainerKind::diskImage;
    if (endsWithNoCase(name, ".zip")) return ContainerKind::zip;
    return std::nullopt;
}

Expected<ExpandedContainer> expandContainer(const fs::path& path, const ContainerBudget& budget) {
    const std::optional<ContainerKind> kind = containerKindForName(path.filename().native());
    if (!kind)
        return Error{0, quoted(path) + " is neither a disk image (.dmg) nor a zip archive (.zip).",
                     ErrorCode::unsupported, path.string()};
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error || !fs::is_regular_file(absolute, error))
        return Error{0, quoted(path) + " does not exist or is not a file.", ErrorCode::missing,
                     path.string()};
    if (*kind == ContainerKind::diskImage && encryptedImage(absolute))
        return Error{0, quoted(path) + " is an encrypted disk image; Varko can't open it.",
                     ErrorCode::unsupported, path.string()};

    ExpandedContainer out;
    out.folder = std::make_shared<PrivateFolder>();
    if (out.folder->path().empty())
        return Error{
            0, "Varko could not make a private temporary folder to open " + quoted(path) + ".",
            ErrorCode::unwritable, path.string()};
    // 7-Zip is given a link of a plain name: the file's own name may hold wildcards, begin
    // with "-" or "@", or not be UTF-8.
    const fs::path image =
        out.folder->path() / (*kind == ContainerKind::diskImage ? "image.dmg" : "archive.zip");
    const fs::path files = out.folder->path() / "files";
    out.contents = files;
    fs::create_symlink(absolute, image, error);
    if (error || ::mkdir(files.c_str(), 0700) != 0)
        return Error{0, "Varko could not prepare a private folder to open " + quoted(path) + ".",
                     ErrorCode::unwritable, path.string()};
    const QString imageArgument = host::pathFromSystem(QByteArray::fromStdString(image.native()));
    const std::string shownName = printable(path.filename().native());
    // A password that matches nothing: 7-Zip must never stop to ask for one.
    const QStringList common{QStringLiteral("-pvarko-no-password"), QStringLiteral("-sccUTF-8"),
                             QStringLiteral("-spd"), QStringLiteral("-bd")};

    std::string overrun;
    const host::ToolResult listed =
        runSevenZip(QStringList{QStringLiteral("l"), QStringLiteral("-slt")} + common +
                        QStringList{QStringLiteral("--"), imageArgument},
                    budget, nullptr, overrun);
    const auto stopped = [&](const host::ToolResult& run) -> std::optional<Error> {
        if (!run.started)
            return Error{0,
                         "7-Zip (7zz, Debian's 7zip package) is needed to open " + quoted(path) +
                             ", and it could not be started: " + run.startError.toStdString(),
                         ErrorCode::toolFailed, path.string()};
        if (!overrun.empty()) return refusedContainer(path, overrun, ErrorCode::tooLarge);
        if (run.cancelled)
            return Error{0, "Opening " + quoted(path) + " was called off.", ErrorCode::refused,
                         path.string()};
        if (run.timedOut)
            return Error{0,
                         "7-Zip ran past its time limit on " + quoted(path) + " and was stopped.",
                         ErrorCode::toolFailed, path.string()};
        if (run.truncated)
            return refusedContainer(path, "7-Zip's listing of it is too long", ErrorCode::tooLarge);
        if (run.crashed || run.exitStatus >= 2)
            return Error{0,
                         "7-Zip can't read " + quoted(path) + ": " +
                             toolWords(run.standardError, image.string(), shownName),
                         ErrorCode::unsupported, path.string()};
        return std::nullopt;
    };
    if (auto wrong = stopped(listed)) return *wrong;

    const auto listing = parseSevenZipListing(listed.standardOutput.toStdString(), budget.maxFiles);
    if (!listing) return refusedContainer(path, listing.error().message, listing.error().code);
    if (*kind == ContainerKind::diskImage && !listing->types.empty() &&
        listing->types.back() == "Dmg")
        return Error{0,
                     "7-Zip can read the disk image " + quoted(path) +
                         " but not the volume inside it: it may be damaged, or of a kind 7-Zip "
                         "doesn't know.",
                     ErrorCode::unsupported, path.string()};
    std::uint64_t listedBytes = 0;
    for (const ListedEntry& entry : listing->entries) {
        if (entry.encrypted)
            return Error{0, quoted(path) + " is encrypted; Varko can't open it.",
                         ErrorCode::unsupported, path.string()};
        if (const std::string why = pathRefusal(entry.path, budget.maxPathBytes, budget.maxDepth);
            !why.empty())
            return refusedContainer(path, "it holds " + why + ": " + printable(entry.path));
        listedBytes += entry.size;
        if (listedBytes > budget.maxBytes)
            return refusedContainer(
                path, "it expands to more than " + std::to_string(budget.maxBytes >> 20) + " MiB",
                ErrorCode::tooLarge);
    }
    const std::uint64_t packed = std::max<std::uintmax_t>(fs::file_size(absolute, error), 1);
    if (!error && listedBytes > budget.minBytesForRatio && listedBytes / packed > budget.maxRatio)
        return refusedContainer(path,
                                "it would expand to more than " + std::to_string(budget.maxRatio) +
                                    " times its own size",
                                ErrorCode::tooLarge);
    if (const ListedEntry* under = entryUnderLink(listing->entries))
        return refusedContainer(path, "it holds an entry under a link: " + printable(under->path));

    const host::ToolResult extracted = runSevenZip(
        QStringList{QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-bso0"),
                    QStringLiteral("-bsp0"),
                    QStringLiteral("-o") +
                        host::pathFromSystem(QByteArray::fromStdString(files.native()))} +
            common + QStringList{QStringLiteral("--"), imageArgument},
        budget, &files, overrun);
    // Folders 7-Zip wrote without the user's write bit could not be emptied otherwise.
    sanitize(files, budget, out);
    const std::vector<std::string> linksOut =
        extracted.started && !extracted.crashed && extracted.exitStatus == 2
            ? ignoredLinks(extracted.standardError)
            : std::vector<std::string>{};
    for (const std::string& link : linksOut)
        out.problems.push_back(
            Error{0, printable(link) + ": a link that points out of the container is not kept",
                  ErrorCode::refused});
    if (linksOut.empty() || !overrun.empty() || extracted.timedOut || extracted.cancelled ||
        extracted.truncated)
        if (auto wrong = stopped(extracted)) return *wrong;
    if (std::string why = overBudget(measure(files, budget), budget); !why.empty())
        return refusedContainer(path, why, ErrorCode::tooLarge);
    findApps(files, budget, out);
    return out;
}

}  // namespace varko::package
