#include "package/payload.h"

#include <archive.h>
#include <archive_entry.h>
#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <utility>

#include "format/plist/plist.h"

namespace varko::package {

namespace {

using Clock = std::chrono::steady_clock;

// A chunk of a pbzx stream decompresses to a few MiB; xz's own limit guards the rest.
constexpr std::uint64_t xzMemoryLimit = 256u << 20;
constexpr std::array<unsigned char, 6> xzMagic{0xFD, '7', 'z', 'X', 'Z', 0x00};

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

std::string archiveError(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "the archive could not be read";
}

/// What all the package's archives have cost so far, against the budget.
class Spending {
public:
    explicit Spending(const PayloadBudget& budget)
        : budget(budget), deadline(Clock::now() + budget.timeLimit) {}

    /// Counts `expandedNow` more decompressed bytes; the bound met, if one was.
    std::optional<Error> expand(std::uint64_t expandedNow, std::uint64_t compressedNow) {
        expanded += expandedNow;
        compressed += compressedNow;
        if (expanded > budget.maxExpandedBytes)
            return Error{expanded,
                         "the payloads expand past " +
                             std::to_string(budget.maxExpandedBytes >> 20) + " MiB",
                         ErrorCode::tooLarge};
        if (expanded > budget.minBytesForRatio &&
            expanded / std::max<std::uint64_t>(compressed, 1) > budget.maxRatio)
            return Error{expanded,
                         "the payloads expand more than " + std::to_string(budget.maxRatio) +
                             " times their size, as no real payload does",
                         ErrorCode::tooLarge};
        if (budget.cancel && budget.cancel->load())
            return Error{expanded, "the listing was called off", ErrorCode::refused};
        if (Clock::now() > deadline)
            return Error{expanded,
                         "listing the package took longer than " +
                             std::to_string(budget.timeLimit.count()) + " seconds",
                         ErrorCode::tooLarge};
        return std::nullopt;
    }
    std::optional<Error> entry() {
        if (++files > budget.maxFiles)
            return Error{
                0, "the payloads list more than " + std::to_string(budget.maxFiles) + " entries",
                ErrorCode::tooLarge};
        return std::nullopt;
    }

    const PayloadBudget& budget;

private:
    Clock::time_point deadline;
    std::uint64_t expanded = 0;
    std::uint64_t compressed = 0;
    std::uint64_t files = 0;
};

/// The bytes of the outer archive's current member as a stream for an inner archive: as
/// they are, or unframed from pbzx (a "pbzx" magic and a 64-bit chunk size, then chunks of
/// a 64-bit flags word and a 64-bit length, each an xz stream or, when it holds no xz magic,
/// stored bytes), every decompressed byte counted against the budget.
class MemberStream {
public:
    /// `size` is the member's size as the table of contents gives it; reads stop there,
    /// as libarchive's xar reader (3.6) may hand out zeros past a member's end.
    MemberStream(archive* outer, std::uint64_t size, Spending& spending)
        : outer(outer), spending(spending), left(size) {}
    /// The archive reading this stream, whose decompressed bytes are counted.
    archive* inner = nullptr;
    ~MemberStream() { lzma_end(&xz); }
    MemberStream(const MemberStream&) = delete;
    MemberStream& operator=(const MemberStream&) = delete;

    /// Looks at the start to tell pbzx from anything libarchive reads on its own.
    bool open() {
        if (!ensure(4)) return !failure;
        if (std::memcmp(in.data() + inPos, "pbzx", 4) != 0) return true;
        std::array<unsigned char, 12> header{};
        if (!take(header.data(), header.size())) return fail("the pbzx header is cut short");
        pbzx = true;
        return true;
    }

    static la_ssize_t read(archive* inner, void* self, const void** buffer) {
        auto* s = static_cast<MemberStream*>(self);
        const la_ssize_t n = s->pbzx ? s->nextPbzx(buffer) : s->nextPlain(buffer);
        if (n < 0) archive_set_error(inner, -1, "%s", s->failure->message.c_str());
        return n;
    }

    std::optional<Error> failure;

private:
    la_ssize_t nextPlain(const void** buffer) {
        if (inPos == inLen && !fill()) return ended();
        *buffer = in.data() + inPos;
        const auto n = la_ssize_t(inLen - inPos);
        inPos = inLen;
        if (auto over = check()) return stop(*over);
        return n;
    }

    la_ssize_t nextPbzx(const void** buffer) {
        for (;;) {
            if (chunkLeft == 0 && !inXz) {
                std::array<unsigned char, 16> header{};
                if (!ensure(1)) return ended();  // the stream ends between chunks
                if (!take(header.data(), header.size())) return fail("a pbzx chunk is cut short");
                chunkLeft = bigEndian(header.data() + 8);
                if (chunkLeft == 0) continue;
                chunkIsXz = ensure(xzMagic.size()) &&
                            std::memcmp(in.data() + inPos, xzMagic.data(), xzMagic.size()) == 0;
                if (chunkIsXz) {
                    lzma_end(&xz);
                    xz = LZMA_STREAM_INIT;
                    if (lzma_stream_decoder(&xz, xzMemoryLimit, 0) != LZMA_OK)
                        return fail("the xz decoder could not start");
                    inXz = true;
                }
            }
            if (!chunkIsXz) {
                if (inPos == inLen && !fill()) return fail("a pbzx chunk is cut short");
                const std::size_t n = std::min<std::uint64_t>(chunkLeft, inLen - inPos);
                *buffer = in.data() + inPos;
                inPos += n;
                chunkLeft -= n;
                if (auto over = check()) return stop(*over);
                return la_ssize_t(n);
            }
            if (chunkLeft > 0 && inPos == inLen && !fill())
                return fail("a pbzx chunk is cut short");
            const std::size_t fed = std::min<std::uint64_t>(chunkLeft, inLen - inPos);
            xz.next_in = in.data() + inPos;
            xz.avail_in = fed;
            xz.next_out = out.data();
            xz.avail_out = out.size();
            const lzma_ret r = lzma_code(&xz, chunkLeft == fed ? LZMA_FINISH : LZMA_RUN);
            const std::size_t used = fed - xz.avail_in;
            inPos += used;
            chunkLeft -= used;
            const std::size_t made = out.size() - xz.avail_out;
            if (r == LZMA_STREAM_END) {
                inXz = false;
                // Bytes after the xz stream's end inside its chunk belong to nothing.
                if (chunkLeft != 0) return fail("a pbzx chunk holds bytes past its xz stream");
            } else if (r != LZMA_OK) {
                return fail("a pbzx chunk is no valid xz stream");
            } else if (made == 0 && used == 0) {
                return fail("a pbzx chunk is cut short");
            }
            if (made == 0) continue;
            if (auto over = check()) return stop(*over);
            *buffer = out.data();
            return la_ssize_t(made);
        }
    }

    /// The member's end, or a failure to read it; what was decompressed counts all the same.
    la_ssize_t ended() {
        if (failure) return -1;
        if (auto over = check()) return stop(*over);
        return 0;
    }

public:
    /// Counts what the inner archive has decompressed since last asked (its filters run
    /// between our reads, so a gzip bomb shows here) against what was read of the member.
    std::optional<Error> check() {
        const la_int64_t now = inner ? archive_filter_bytes(inner, 0) : 0;
        const std::uint64_t grown = now > expandedSeen ? std::uint64_t(now - expandedSeen) : 0;
        expandedSeen = std::max(expandedSeen, now);
        return spending.expand(grown, std::exchange(pulled, 0));
    }

private:
    static std::uint64_t bigEndian(const unsigned char* p) {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
        return v;
    }

    /// Reads more of the member after what is left; false at its end or on failure.
    bool fill() {
        std::memmove(in.data(), in.data() + inPos, inLen - inPos);
        inLen -= inPos;
        inPos = 0;
        const std::size_t want = std::min<std::uint64_t>(in.size() - inLen, left);
        const la_ssize_t n = want ? archive_read_data(outer, in.data() + inLen, want) : 0;
        if (n < 0) {
            failure = Error{0, archiveError(outer), ErrorCode::malformed};
            return false;
        }
        inLen += std::size_t(n);
        pulled += std::uint64_t(n);
        left -= std::uint64_t(n);
        return n > 0;
    }
    /// At least `n` bytes (a few, for a header) ready at inPos; false when the member ends.
    bool ensure(std::size_t n) {
        while (inLen - inPos < n)
            if (!fill()) return false;
        return true;
    }
    bool take(unsigned char* to, std::size_t n) {
        if (!ensure(n)) return false;
        std::memcpy(to, in.data() + inPos, n);
        inPos += n;
        return true;
    }
    la_ssize_t fail(const char* why) {
        if (!failure) failure = Error{0, why, ErrorCode::malformed};
        return -1;
    }
    la_ssize_t stop(Error why) {
        failure = std::move(why);
        return -1;
    }

    archive* outer;
    Spending& spending;
    std::array<unsigned char, 64 * 1024> in{};
    std::array<unsigned char, 256 * 1024> out{};
    std::size_t inPos = 0;
    std::size_t inLen = 0;
    bool pbzx = false;
    lzma_stream xz = LZMA_STREAM_INIT;
    std::uint64_t chunkLeft = 0;
    bool chunkIsXz = false;
    bool inXz = false;
    la_int64_t expandedSeen = 0;
    std::uint64_t pulled = 0;
    std::uint64_t left;
};

EntryType entryType(archive_entry* e) {
    if (archive_entry_hardlink(e) != nullptr) return EntryType::hardlink;
    switch (archive_entry_filetype(e)) {
        case AE_IFDIR:
            return EntryType::directory;
        case AE_IFLNK:
            return EntryType::symlink;
        case AE_IFCHR:
            return EntryType::characterDevice;
        case AE_IFBLK:
            return EntryType::blockDevice;
        case AE_IFIFO:
            return EntryType::fifo;
        case AE_IFSOCK:
            return EntryType::socket;
        default:
            return EntryType::file;
    }
}

/// The entry's path without the "./" that cpio puts first; "." for the root.
std::string entryPath(archive_entry* e) {
    const char* raw = archive_entry_pathname(e);
    std::string path = raw ? raw : "";
    while (path.starts_with("./")) path.erase(0, 2);
    return path.empty() ? "." : path;
}

/// Reads up to `limit` bytes of the current member, which holds `size` bytes (see
/// MemberStream); whether there was more.
bool readMember(archive* a, std::uint64_t size, std::size_t limit, std::string& into,
                Spending& spending, std::optional<Error>& problem) {
    std::array<char, 16 * 1024> buffer{};
    for (std::uint64_t left = size; left > 0;) {
        const la_ssize_t n =
            archive_read_data(a, buffer.data(), std::min<std::uint64_t>(buffer.size(), left));
        if (n < 0) {
            problem = Error{0, archiveError(a), ErrorCode::malformed};
            return false;
        }
        if (n == 0) return false;
        left -= std::uint64_t(n);
        const std::size_t room = limit - std::min(limit, into.size());
        into.append(buffer.data(), std::min(room, std::size_t(n)));
        if (std::size_t(n) > room) return true;   // the rest is skipped with the member
        if (auto over = spending.expand(0, 0)) {  // its time, at least
            problem = std::move(over);
            return false;
        }
    }
    return false;
}

/// The member's size as its archive gives it; 0 when it gives none.
std::uint64_t memberSize(archive_entry* e) {
    return archive_entry_size_is_set(e)
               ? std::uint64_t(std::max<la_int64_t>(archive_entry_size(e), 0))
               : 0;
}

/// Lists an inner archive (a payload or a scripts archive) of the outer's current member.
void listMember(archive* outer, std::uint64_t size, bool scripts, ComponentPackage& into,
                Spending& spending, std::optional<Error>& stopAll, ExtractionWriter* writer) {
    const char* what = scripts ? "Scripts" : "Payload";
    const auto problem = [&](Error e) {
        e.message = std::string(what) + ": " + e.message;
        if (e.code == ErrorCode::tooLarge) stopAll = e;
        into.problems.push_back(std::move(e));
    };
    MemberStream stream(outer, size, spending);
    if (!stream.open()) return problem(*stream.failure);
    ArchivePtr inner(archive_read_new());
    stream.inner = inner.get();
    archive_read_support_filter_gzip(inner.get());
    archive_read_support_filter_bzip2(inner.get());
    archive_read_support_filter_xz(inner.get());
    archive_read_support_format_cpio(inner.get());
    archive_read_support_format_tar(inner.get());
    if (archive_read_open(inner.get(), &stream, nullptr, &MemberStream::read, nullptr) !=
        ARCHIVE_OK)
        return problem(stream.failure.value_or(
            Error{0, "not an archive Varko reads: " + archiveError(inner.get()),
                  ErrorCode::unsupported}));
    archive_entry* entry = nullptr;
    int r = ARCHIVE_OK;
    while ((r = archive_read_next_header(inner.get(), &entry)) == ARCHIVE_OK || r == ARCHIVE_WARN) {
        if (auto over = spending.entry()) return problem(*over);
        if (auto over = stream.check()) return problem(*over);
        std::string path = entryPath(entry);
        const std::size_t depth = std::size_t(std::count(path.begin(), path.end(), '/')) + 1;
        if (path.size() > spending.budget.maxPathBytes || depth > spending.budget.maxDepth)
            return problem(Error{0, "an entry's path is longer or deeper than any real one",
                                 ErrorCode::tooLarge});
        const EntryType type = entryType(entry);
        if (scripts) {
            if (type != EntryType::file || path == ".") continue;
            PackageScript script;
            script.name = std::move(path);
            script.size = std::uint64_t(std::max<la_int64_t>(archive_entry_size(entry), 0));
            script.executable = (archive_entry_perm(entry) & 0111) != 0;
            std::optional<Error> failed;
            script.cut = readMember(inner.get(), script.size, spending.budget.maxScriptBytes,
                                    script.text, spending, failed);
            into.scripts.push_back(std::move(script));
            if (failed) return problem(stream.failure.value_or(*failed));
            continue;
        }
        if (writer)
            if (auto wrong = writer->write(inner.get(), entry, path)) {
                if (wrong->code == ErrorCode::tooLarge) return problem(*wrong);
                into.problems.push_back(std::move(*wrong));
            }
        PayloadFile file;
        file.path = std::move(path);
        file.type = type;
        file.mode = std::uint32_t(archive_entry_mode(entry) & 07777);
        file.uid = std::uint64_t(std::max<la_int64_t>(archive_entry_uid(entry), 0));
        file.gid = std::uint64_t(std::max<la_int64_t>(archive_entry_gid(entry), 0));
        file.size = std::uint64_t(std::max<la_int64_t>(archive_entry_size(entry), 0));
        const char* link = type == EntryType::hardlink ? archive_entry_hardlink(entry)
                                                       : archive_entry_symlink(entry);
        if (link) file.linkTarget = std::string(link).substr(0, spending.budget.maxPathBytes);
        into.files.push_back(std::move(file));
    }
    if (auto over = stream.check()) return problem(*over);
    if (r != ARCHIVE_EOF)
        problem(stream.failure.value_or(Error{0, archiveError(inner.get()), ErrorCode::malformed}));
}

/// `<pkg-info identifier=… version=… install-location=…>`.
void readPackageInfo(const std::string& xml, ComponentPackage& into) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
    const pugi::xml_node info = doc.child("pkg-info");
    if (!parsed || !info) {
        into.problems.push_back(
            Error{0, "PackageInfo is no pkg-info XML: " + std::string(parsed.description()),
                  ErrorCode::malformed});
        return;
    }
    into.identifier = info.attribute("identifier").value();
    into.version = info.attribute("version").value();
    if (const char* location = info.attribute("install-location").value(); *location)
        into.installLocation = location;
}

/// The absolute path an entry installs to.
std::string installedPath(const std::string& location, const std::string& entry) {
    std::string base = location.starts_with('/') ? location : "/" + location;
    if (entry == ".") return base;
    if (!base.ends_with('/')) base += '/';
    return base + entry;
}

}  // namespace

const char* entryTypeName(EntryType type) {
    switch (type) {
        case EntryType::file:
            return "file";
        case EntryType::directory:
            return "directory";
        case EntryType::symlink:
            return "symlink";
        case EntryType::hardlink:
            return "hardlink";
        case EntryType::characterDevice:
            return "character-device";
        case EntryType::blockDevice:
            return "block-device";
        case EntryType::fifo:
            return "fifo";
        case EntryType::socket:
            break;
    }
    return "socket";
}

bool PackageContents::cut() const {
    const auto tooLarge = [](const Error& e) { return e.code == ErrorCode::tooLarge; };
    return std::any_of(problems.begin(), problems.end(), tooLarge) ||
           std::any_of(components.begin(), components.end(), [&](const ComponentPackage& c) {
               return std::any_of(c.problems.begin(), c.problems.end(), tooLarge);
           });
}

bool isBundlePackage(const std::filesystem::path& folder) {
    std::error_code error;
    const auto type = [&](const std::filesystem::path& p) {
        return std::filesystem::symlink_status(p, error).type();
    };
    // The item itself may be reached through a link its user made; nothing inside it may.
    return std::filesystem::status(folder, error).type() == std::filesystem::file_type::directory &&
           type(folder / "Contents") == std::filesystem::file_type::directory &&
           type(folder / "Contents" / "Archive.pax.gz") == std::filesystem::file_type::regular;
}

namespace {

/// Up to `limit` bytes of a regular file inside a bundle-style package; none for a link, a
/// missing file or one past the limit.
std::optional<std::string> bundleFile(const std::filesystem::path& file, std::size_t limit) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(file, error);
    if (error || status.type() != std::filesystem::file_type::regular) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::string text(limit + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    if (std::size_t(in.gcount()) > limit) return std::nullopt;
    text.resize(std::size_t(in.gcount()));
    return text;
}

/// The older bundle-style package: a folder with Contents/Archive.pax.gz (a cpio archive,
/// whatever its name says), Contents/Info.plist naming the install location, and scripts
/// in Contents/Resources. Links inside it are not followed.
Expected<PackageContents> readBundlePackage(const std::filesystem::path& pkg,
                                            const PayloadBudget& budget,
                                            const Extraction* extraction) {
    if (!isBundlePackage(pkg))
        return Error{0, "not an installer package: a folder with no Contents/Archive.pax.gz",
                     ErrorCode::unsupported, pkg.string()};
    PackageContents contents;
    ComponentPackage c;
    const std::filesystem::path folder = pkg / "Contents";
    if (const auto info = bundleFile(folder / "Info.plist", budget.maxInfoBytes)) {
        if (const auto parsed = plist::parse(std::string_view(*info));
            parsed && parsed->dictionary()) {
            const plist::Dictionary& d = *parsed->dictionary();
            for (const auto& [key, into] : {std::pair{"CFBundleIdentifier", &c.identifier},
                                            {"CFBundleShortVersionString", &c.version},
                                            {"IFPkgFlagDefaultLocation", &c.installLocation}})
                if (const plist::Value* v = d.find(key); v && v->string() && !v->string()->empty())
                    *into = *v->string();
        }
    }
    static constexpr const char* scriptNames[] = {"preflight",         "postflight", "preinstall",
                                                  "postinstall",       "preupgrade", "postupgrade",
                                                  "InstallationCheck", "VolumeCheck"};
    std::error_code error;
    // A Resources that is a link would lead the reads out of the package.
    const bool resources = std::filesystem::symlink_status(folder / "Resources", error).type() ==
                           std::filesystem::file_type::directory;
    for (const char* name : scriptNames) {
        const std::filesystem::path file = folder / "Resources" / name;
        if (!resources || std::filesystem::symlink_status(file, error).type() !=
                              std::filesystem::file_type::regular)
            continue;
        PackageScript script;
        script.name = name;
        script.size = std::filesystem::file_size(file, error);
        script.executable = (std::filesystem::status(file, error).permissions() &
                             std::filesystem::perms::owner_exec) != std::filesystem::perms::none;
        std::ifstream in(file, std::ios::binary);
        script.text.resize(std::min<std::uint64_t>(script.size, budget.maxScriptBytes));
        in.read(script.text.data(), std::streamsize(script.text.size()));
        script.text.resize(std::size_t(in.gcount()));
        script.cut = script.size > script.text.size();
        c.scripts.push_back(std::move(script));
    }
    const std::filesystem::path archivePath = folder / "Archive.pax.gz";
    // libarchive's raw reader hands the file over as one member, as a xar member is.
    ArchivePtr raw(archive_read_new());
    archive_read_support_format_raw(raw.get());
    archive_entry* entry = nullptr;
    Spending spending(budget);
    std::optional<Error> stopAll;
    std::uint64_t written = 0;
    std::optional<ExtractionWriter> writer;
    if (extraction) writer.emplace(*extraction, 0, written);
    if (archive_read_open_filename(raw.get(), archivePath.c_str(), 64 * 1024) == ARCHIVE_OK &&
        archive_read_next_header(raw.get(), &entry) == ARCHIVE_OK)
        listMember(raw.get(), std::filesystem::file_size(archivePath, error), false, c, spending,
                   stopAll, writer ? &*writer : nullptr);
    else
        c.problems.push_back(
            Error{0, "Archive.pax.gz: " + archiveError(raw.get()), ErrorCode::unreadable});
    if (stopAll)
        contents.problems.push_back(
            Error{0, "the listing stopped: " + stopAll->message, ErrorCode::tooLarge});
    for (PayloadFile& f : c.files) f.path = installedPath(c.installLocation, f.path);
    if (writer)
        for (const auto& [piece, kind] : writer->pieces())
            contents.apps.push_back({installedPath(c.installLocation, piece),
                                     writer->base() / piece, kind, writer->base()});
    contents.components.push_back(std::move(c));
    return contents;
}

Expected<PackageContents> readContents(const std::filesystem::path& pkg,
                                       const PayloadBudget& budget, const Extraction* extraction) {
    ArchivePtr outer(archive_read_new());
    archive_read_support_format_xar(outer.get());
    const auto notPackage = [&](const std::string& why) {
        return Error{0, "not a flat installer package: " + why, ErrorCode::unsupported,
                     pkg.string()};
    };
    std::error_code ignored;
    if (std::filesystem::is_directory(pkg, ignored))
        return readBundlePackage(pkg, budget, extraction);
    if (archive_read_open_filename(outer.get(), pkg.c_str(), 64 * 1024) != ARCHIVE_OK)
        return notPackage(archiveError(outer.get()));
    Spending spending(budget);
    PackageContents contents;
    // Members of one component come in any order; PackageInfo may follow its Payload.
    std::map<std::string, ComponentPackage> byName;
    std::vector<std::string> order;
    const auto component = [&](const std::string& name) -> ComponentPackage& {
        auto [at, added] = byName.try_emplace(name);
        if (added) {
            at->second.name = name;
            order.push_back(name);
        }
        return at->second;
    };
    std::optional<Error> stopAll;
    std::map<std::string, std::unique_ptr<ExtractionWriter>> writers;
    std::uint64_t written = 0;
    archive_entry* entry = nullptr;
    int r = ARCHIVE_OK;
    bool first = true;
    while (!stopAll && ((r = archive_read_next_header(outer.get(), &entry)) == ARCHIVE_OK ||
                        r == ARCHIVE_WARN)) {
        first = false;
        const std::string path = entryPath(entry);
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
        const std::string member = slash == std::string::npos ? path : path.substr(slash + 1);
        // Components sit at the top (a lone component package) or one folder down.
        const bool inComponent = folder.find('/') == std::string::npos;
        if (folder.empty() && member == "Distribution") {
            std::string text;
            std::optional<Error> failed;
            if (readMember(outer.get(), memberSize(entry), budget.maxInfoBytes, text, spending,
                           failed))
                contents.problems.push_back(
                    Error{0, "the Distribution is longer than any real one", ErrorCode::tooLarge});
            if (failed) contents.problems.push_back(*failed);
            contents.distribution = std::move(text);
        } else if (inComponent && member == "PackageInfo") {
            std::string text;
            std::optional<Error> failed;
            ComponentPackage& c = component(folder);
            if (readMember(outer.get(), memberSize(entry), budget.maxInfoBytes, text, spending,
                           failed) ||
                failed)
                c.problems.push_back(failed.value_or(
                    Error{0, "PackageInfo is longer than any real one", ErrorCode::tooLarge}));
            else
                readPackageInfo(text, c);
        } else if (inComponent && (member == "Payload" || member == "Scripts")) {
            ComponentPackage& c = component(folder);
            ExtractionWriter* writer = nullptr;
            if (extraction && member == "Payload") {
                const auto at =
                    std::size_t(std::find(order.begin(), order.end(), folder) - order.begin());
                auto& slot = writers[folder];
                if (!slot) slot = std::make_unique<ExtractionWriter>(*extraction, at, written);
                writer = slot.get();
            }
            listMember(outer.get(), memberSize(entry), member == "Scripts", c, spending, stopAll,
                       writer);
        }
    }
    if (first && r != ARCHIVE_EOF) return notPackage(archiveError(outer.get()));
    if (stopAll)
        contents.problems.push_back(
            Error{0, "the listing stopped: " + stopAll->message, ErrorCode::tooLarge});
    else if (r != ARCHIVE_EOF)
        contents.problems.push_back(Error{0, archiveError(outer.get()), ErrorCode::malformed});
    for (const std::string& name : order) {
        ComponentPackage& c = byName[name];
        for (PayloadFile& f : c.files) f.path = installedPath(c.installLocation, f.path);
        if (const auto w = writers.find(name); w != writers.end())
            for (const auto& [piece, kind] : w->second->pieces())
                contents.apps.push_back({installedPath(c.installLocation, piece),
                                         w->second->base() / piece, kind, w->second->base()});
        contents.components.push_back(std::move(c));
    }
    return contents;
}

}  // namespace

Expected<PackageContents> readPackageContents(const std::filesystem::path& pkg,
                                              const PayloadBudget& budget) {
    return readContents(pkg, budget, nullptr);
}

Expected<PackageContents> extractPackageApps(const std::filesystem::path& pkg,
                                             const Extraction& extraction,
                                             const PayloadBudget& budget) {
    return readContents(pkg, budget, &extraction);
}

}  // namespace varko::package
