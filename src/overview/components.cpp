#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <system_error>

#include "format/plist/plist.h"
#include "overview/overview.h"
#include "signature/bundlelocator.h"
#include "signature/codeobject.h"

namespace varko::overview {

namespace fs = std::filesystem;

std::string_view kindName(ComponentKind kind) {
    static constexpr std::array<std::string_view, 12> names{
        "main-executable", "framework",     "dynamic-library",  "helper",
        "xpc-service",     "plug-in",       "app-extension",    "login-item",
        "launch-agent",    "launch-daemon", "system-extension", "nested-app"};
    return names.at(std::size_t(kind));
}

std::string_view kindTitle(ComponentKind kind) {
    static constexpr std::array<std::string_view, 12> titles{
        "Main executable", "Framework",     "Dynamic library",  "Helper",
        "XPC service",     "Plug-in",       "App extension",    "Login item",
        "Launch agent",    "Launch daemon", "System extension", "Nested app"};
    return titles.at(std::size_t(kind));
}

std::string_view signerName(Signer signer) {
    static constexpr std::array<std::string_view, 6> names{"unsigned", "adhoc",     "developer-id",
                                                           "apple",    "app-store", "untrusted"};
    return names.at(std::size_t(signer));
}

std::string_view signerTitle(Signer signer) {
    static constexpr std::array<std::string_view, 6> titles{
        "Unsigned", "Ad hoc", "Developer ID", "Apple", "Mac App Store", "Untrusted certificate"};
    return titles.at(std::size_t(signer));
}

namespace {

// Info.plist files and entitlements are small; a larger one is refused, not read.
constexpr std::uint64_t maxPlistBytes = 8u << 20;
// Folders and files one walk looks at: a bundle with millions of files is cut, not read.
constexpr std::size_t maxEntries = 200'000;

struct BundleSuffix {
    std::string_view suffix;
    ComponentKind kind;
};

/// Bundles by their folder's suffix; an app is a helper, login item or nested app by
/// where it sits, and a launch item is its property list.
constexpr std::array<BundleSuffix, 9> bundleSuffixes{{
    {".framework", ComponentKind::framework},
    {".xpc", ComponentKind::xpcService},
    {".appex", ComponentKind::appExtension},
    {".systemextension", ComponentKind::systemExtension},
    {".plugin", ComponentKind::plugIn},
    {".bundle", ComponentKind::plugIn},
    {".qlgenerator", ComponentKind::plugIn},
    {".mdimporter", ComponentKind::plugIn},
    {".app", ComponentKind::nestedApp},
}};

bool isMachO(const fs::path& file, const ItemRoot& root) {
    auto opened = openRegularFile(file, &root, FinalLink::Refuse);
    if (!opened || opened->size < 8) return false;
    std::array<std::byte, 8> head{};
    auto got = readFully(opened->fd, head, file);
    if (!got || *got < 8) return false;
    const auto word = [&](std::size_t at, bool big) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v |= std::uint32_t(head[at + i]) << (big ? 8 * (3 - i) : 8 * i);
        return v;
    };
    const std::uint32_t little = word(0, false), big = word(0, true);
    for (const std::uint32_t magic : {0xfeedfaceU, 0xfeedfacfU})
        if (little == magic || big == magic) return true;
    // Java class files share the universal magic; their version is never a small count.
    return (big == 0xcafebabeU || big == 0xcafebabfU) && word(4, true) > 0 && word(4, true) < 64;
}

class Walk {
public:
    Walk(Overview& overview, const ItemRoot& root, fs::path base)
        : overview(overview), root(root), base(std::move(base)) {}

    /// The main executable of the item first, then everything inside it.
    void item() {
        const auto location = codesign::locateCode(base, &root);
        if (!location) {
            overview.problem = location.error();
            return;
        }
        add(ComponentKind::mainExecutable, base, location->executable, {});
        overview.components.front().code = *location;
        skip.insert(location->executable.lexically_normal());
        folder(base, 0, 1);
        launchItems();
    }

private:
    std::size_t add(ComponentKind kind, const fs::path& location, const fs::path& shownPath,
                    std::optional<std::size_t> parent) {
        Component c;
        c.kind = kind;
        c.location = location;
        c.path = shownPath.lexically_relative(base).generic_string();
        c.parent = parent;
        overview.components.push_back(std::move(c));
        return overview.components.size() - 1;
    }

    void bundle(const fs::path& dir, ComponentKind kind, std::size_t parent, int depth) {
        const std::size_t index = add(kind, dir, dir, parent);
        if (const auto location = codesign::locateCode(dir, &root)) {
            skip.insert(location->executable.lexically_normal());
            overview.components[index].code = *location;
        } else if (location.error().code != ErrorCode::unsupported)
            overview.components[index].identity.problems.push_back(location.error().message);
        if (depth >= maxNesting) {
            overview.componentsCut = true;
            return;
        }
        folder(dir, index, depth + 1);
    }

    void folder(const fs::path& dir, std::size_t owner, int depth) {
        // Listed once for the item's passes: the seal's walk lists the same folders.
        const auto listing = listFolder(dir);
        std::vector<const FolderEntry*> entries;
        for (const FolderEntry& entry : listing->entries) {
            if (++visited > maxEntries) {
                overview.componentsCut = true;
                return;
            }
            entries.push_back(&entry);
        }
        // Code may hide in a folder that can't be read: say so rather than list less.
        if (listing->error != 0)
            unreadableFolder(dir, std::error_code(listing->error, std::generic_category()));
        // Directory order differs between file systems; the list must not.
        std::sort(entries.begin(), entries.end(),
                  [](const FolderEntry* a, const FolderEntry* b) { return a->name < b->name; });
        for (const FolderEntry* entry : entries) {
            if (overview.components.size() >= maxComponents) {
                overview.componentsCut = true;
                return;
            }
            // Links are not followed: a framework's own links lead to what is walked
            // anyway, and a link may lead anywhere.
            if (entry->kind == fs::file_type::symlink) continue;
            const fs::path p = dir / entry->name;
            // Even a bundle's own _CodeSignature is walked: the seal's files are no Mach-O,
            // and code hidden beside them must still be found.
            if (entry->kind == fs::file_type::directory) {
                if (const auto kind = bundleKind(p))
                    bundle(p, *kind, owner, depth);
                else
                    folder(p, owner, depth);
            } else if (entry->kind == fs::file_type::regular) {
                file(p, owner);
            }
        }
    }

    void unreadableFolder(const fs::path& dir, const std::error_code& ec) {
        constexpr std::size_t maxProblems = 100;
        if (overview.problems.size() >= maxProblems) return;
        const std::string rel = dir.lexically_relative(base).generic_string();
        overview.problems.push_back(
            "a folder could not be read: " + (rel.empty() || rel == "." ? std::string(".") : rel) +
            " (" + ec.message() + ")");
    }

    static std::optional<ComponentKind> bundleKind(const fs::path& p) {
        const std::string ext = p.extension().string();
        for (const BundleSuffix& s : bundleSuffixes) {
            if (ext != s.suffix) continue;
            if (s.kind != ComponentKind::nestedApp) return s.kind;
            const std::string above = p.parent_path().filename().string();
            if (above == "LoginItems") return ComponentKind::loginItem;
            if (above == "Frameworks" || above == "Helpers" || above == "MacOS")
                return ComponentKind::helper;
            return ComponentKind::nestedApp;
        }
        return std::nullopt;
    }

    void file(const fs::path& p, std::size_t owner) {
        const fs::path above = p.parent_path().filename();
        if ((above == "LaunchAgents" || above == "LaunchDaemons") && p.extension() == ".plist") {
            const auto kind =
                above == "LaunchAgents" ? ComponentKind::launchAgent : ComponentKind::launchDaemon;
            const std::size_t index = add(kind, p, p, owner);
            if (auto program = launchProgram(p, index))
                launchPrograms.emplace_back(index, *program);
            return;
        }
        if (skip.count(p.lexically_normal()) != 0) return;
        const bool dylib = p.extension() == ".dylib";
        std::error_code ec;
        const auto exec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
        const bool executable = (fs::status(p, ec).permissions() & exec) != fs::perms::none;
        if ((!dylib && !executable) || !isMachO(p, root)) return;
        add(dylib ? ComponentKind::dynamicLibrary : ComponentKind::helper, p, p, owner);
    }

    /// The program a launch item starts, when it lies inside the item: BundleProgram is
    /// relative to the bundle; Program and ProgramArguments name paths outside it.
    std::optional<fs::path> launchProgram(const fs::path& plistFile, std::size_t index) {
        auto& identity = overview.components[index].identity;
        const auto bytes = readSmallFile(plistFile, maxPlistBytes, &root);
        if (!bytes) {
            identity.problems.push_back(bytes.error().message);
            return std::nullopt;
        }
        const auto value = plist::parse(std::span<const std::byte>(*bytes));
        const plist::Dictionary* dict = value ? value->dictionary() : nullptr;
        if (!dict) {
            identity.problems.push_back("its property list can't be read");
            return std::nullopt;
        }
        if (const auto* label = dict->find("Label"); label && label->string())
            identity.identifier = *label->string();
        const auto* program = dict->find("BundleProgram");
        if (!program || !program->string() || program->string()->empty()) {
            identity.problems.push_back("it starts no program inside the bundle");
            return std::nullopt;
        }
        const fs::path inside = (base / *program->string()).lexically_normal();
        if (!root.resolve(inside, FinalLink::Refuse)) {
            identity.problems.push_back("its program lies outside the bundle: " +
                                        *program->string());
            return std::nullopt;
        }
        return inside;
    }

    /// A helper that a launch item starts is listed once, as that launch item.
    void launchItems() {
        std::vector<bool> started(overview.components.size());
        for (const auto& [index, program] : launchPrograms) {
            overview.components[index].location = program;
            for (std::size_t i = 1; i < overview.components.size(); ++i) {
                const Component& c = overview.components[i];
                if (c.kind == ComponentKind::helper && c.location.lexically_normal() == program)
                    started[i] = true;
            }
        }
        std::vector<std::size_t> moved(overview.components.size());
        std::vector<Component> kept;
        for (std::size_t i = 0; i < overview.components.size(); ++i) {
            moved[i] = kept.size();
            if (!started[i]) kept.push_back(std::move(overview.components[i]));
        }
        for (Component& c : kept)
            if (c.parent) c.parent = moved[*c.parent];
        overview.components = std::move(kept);
    }

    Overview& overview;
    const ItemRoot& root;
    const fs::path base;
    std::set<fs::path> skip;
    std::vector<std::pair<std::size_t, fs::path>> launchPrograms;
    std::size_t visited = 0;
};

}  // namespace

Overview readOverview(const fs::path& item, const PrivacyCatalog& catalog) {
    Overview overview;
    const auto root = ItemRoot::of(item);
    if (!root) {
        overview.problem = root.error();
        return overview;
    }
    fs::path base = item.lexically_normal();
    if (base.filename().empty()) base = base.parent_path();
    overview.isApp = base.extension() == ".app";
    Walk(overview, *root, base).item();
    if (overview.components.empty()) return overview;
    readIdentities(overview, *root);
    flagComponents(overview, catalog);
    overview.services = privacyServices(catalog, overview.components);
    return overview;
}

}  // namespace varko::overview
