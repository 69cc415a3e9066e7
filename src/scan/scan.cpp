#include "scan/scan.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "inspection/itemtype.h"
#include "overview/privacycatalog.h"
#include "overview/privacyservices.h"
#include "tools/pathbytes.h"
#include "tools/utf8.h"

namespace varko::scan {

namespace {

/// Entries looked at in one walk, whatever they turn out to be: a folder of a million empty
/// subfolders must end as surely as one of a million apps.
constexpr std::size_t maxEntries = 5'000'000;
constexpr qsizetype maxProblems = 1000;

QString fromBytes(const std::string& bytes) {
    return host::pathFromSystem(bytes);
}

QString why(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isBundleName(const QString& name, const char* suffix) {
    return name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive) &&
           name.size() > int(std::strlen(suffix));
}

class Walk {
public:
    Found found;

    void root(const QString& folder) {
        const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
        const QByteArray bytes = host::pathToSystem(clean);
        struct stat st {};
        // The folder named may itself be a link: the one link the walk follows.
        if (::stat(bytes.constData(), &st) != 0) {
            problem(clean + ": " + why(errno));
            return;
        }
        const QString name = QFileInfo(clean).fileName();
        if (S_ISDIR(st.st_mode) && !isBundleName(name, ".app") && !isBundleName(name, ".pkg")) {
            folderAt(bytes.toStdString(), st, 0);
        } else if (isBundleName(name, ".app") || isBundleName(name, ".pkg")) {
            add(clean);
        } else {
            problem(clean + ": not a folder");
        }
    }

private:
    std::set<std::pair<dev_t, ino_t>> seen;
    std::set<QString> listed;
    std::size_t entries = 0;
    bool full = false;  // a bound that ends the whole walk was reached

    /// What went wrong, up to a bound: a tree of unreadable folders must not fill memory.
    void problem(const QString& text) {
        if (found.problems.size() < maxProblems)
            found.problems << text;
        else
            found.cut = true;
    }

    void add(const QString& path) {
        if (listed.size() >= maxItems) {
            found.cut = full = true;
            return;
        }
        listed.insert(path);
    }

    void folderAt(const std::string& path, const struct stat& st, int depth) {
        // A folder reached twice (nested folders on the command line, a bind mount) is
        // walked once.
        if (!seen.insert({st.st_dev, st.st_ino}).second) return;
        // Opened without following a link, should one have taken the folder's place since.
        const int fd =
            ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (depth > 0 ? O_NOFOLLOW : 0));
        DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
        if (dir == nullptr) {
            problem(fromBytes(path) + ": " + why(errno));
            if (fd >= 0) ::close(fd);
            return;
        }
        std::vector<std::pair<std::string, struct stat>> folders;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                if (errno != 0) problem(fromBytes(path) + ": " + why(errno));
                break;
            }
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (++entries > maxEntries) {
                found.cut = full = true;
                break;
            }
            const std::string child = path + (path.ends_with('/') ? "" : "/") + std::string(name);
            struct stat cst {};
            // Links are never followed: where one leads may be outside, or back here.
            if (::lstat(child.c_str(), &cst) != 0 || S_ISLNK(cst.st_mode)) continue;
            const QString shown = fromBytes(std::string(name));
            if (isBundleName(shown, ".app") && S_ISDIR(cst.st_mode)) {
                add(fromBytes(child));
            } else if (isBundleName(shown, ".pkg")) {
                // Flat or a folder, or something else by that name: the scan says which.
                add(fromBytes(child));
            } else if (S_ISDIR(cst.st_mode)) {
                folders.emplace_back(child, cst);
            }
            if (full) break;
        }
        ::closedir(dir);
        for (const auto& [child, cst] : folders) {
            if (full) return;
            if (depth + 1 >= maxDepth) {
                found.cut = true;
                return;
            }
            folderAt(child, cst, depth + 1);
        }
    }

public:
    void finish() {
        for (const QString& path : listed) found.items << path;
        // By path, ignoring case first as a listing does, then exactly, so the order is total.
        std::sort(found.items.begin(), found.items.end(), [](const QString& a, const QString& b) {
            const int c = a.compare(b, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a < b;
        });
    }
};

/// What one component declares, holds and is allowed, by service name.
std::map<std::string, ServiceMarks> marksOf(const overview::Component& component) {
    std::map<std::string, ServiceMarks> marks;
    const auto uses =
        overview::privacyServices(overview::PrivacyCatalog::builtIn(), std::span(&component, 1));
    for (const overview::ServiceUse& use : uses)
        marks[use.service] = {!use.usageKeys.empty(), !use.entitlements.empty(),
                              !use.allowances.empty()};
    return marks;
}

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

/// Why the item at `path` can't be read at all, before any tool is run on it.
QString openProblem(const QString& path, bool folder) {
    const QByteArray bytes = host::pathToSystem(path);
    if (folder) {
        DIR* dir = ::opendir(bytes.constData());
        if (dir == nullptr) return why(errno);
        ::closedir(dir);
        return {};
    }
    const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return why(errno);
    ::close(fd);
    return {};
}

}  // namespace

Found findItems(const QStringList& folders) {
    Walk walk;
    for (const QString& folder : folders) walk.root(folder);
    walk.finish();
    return std::move(walk.found);
}

ItemSummary summarize(const Inspection& item) {
    ItemSummary s;
    s.path = item.path;
    s.name = QFileInfo(item.path).fileName();
    const Info* info = item.document.theInfo.get();
    if (info == nullptr) {
        s.unreadable = true;
        s.problem = QStringLiteral("it was not read");
        return s;
    }
    s.json = inspectionJson(item);
    s.toolFailed = item.toolFailed();
    s.identifier = info->bundleID;
    if (info->version != QLatin1String("[none]")) s.version = info->version;
    const overview::Verdict& v = item.verdict;
    s.signer = fromUtf8(v.signer);
    s.teamIdentifier = v.teamIdentifier ? fromUtf8(*v.teamIdentifier) : QString();
    s.verdict = fromUtf8(std::string(overview::stateName(v.state)));
    s.verdictReason = fromUtf8(v.reason);
    s.hardenedRuntime = fromUtf8(std::string(overview::triName(v.hardenedRuntime)));

    // An app whose folder or Info.plist can't be read has no name, identity or services to
    // show: it is listed as unreadable. A package is read by its tools alone.
    if (item.document.isApp) {
        if (!info->bundle) {
            s.problem = QStringLiteral("it is not a bundle that can be opened");
        } else if (item.overview && !item.overview->problem.empty()) {
            s.problem = fromUtf8(item.overview->problem);
        } else if (!info->infoPlistProblem.isEmpty()) {
            s.problem = "its Info.plist can't be read: " + info->infoPlistProblem;
        }
        s.unreadable = !s.problem.isEmpty();
    }
    if (!item.overview) return s;

    // A component's use marks the app as well, by what the component itself declares,
    // holds or is allowed.
    const auto& components = item.overview->components;
    std::map<std::string, std::size_t> byPath;
    for (std::size_t i = 1; i < components.size(); ++i) byPath.emplace(components[i].path, i);
    std::map<std::size_t, std::map<std::string, ServiceMarks>> componentMarks;
    for (const overview::ServiceUse& use : item.overview->services) {
        ServiceMarks marks{!use.usageKeys.empty(), !use.entitlements.empty(),
                           !use.allowances.empty()};
        for (const std::string& path : use.components) {
            const auto at = byPath.find(path);
            if (at == byPath.end()) continue;
            auto cached = componentMarks.find(at->second);
            if (cached == componentMarks.end())
                cached = componentMarks.emplace(at->second, marksOf(components[at->second])).first;
            if (const auto m = cached->second.find(use.service); m != cached->second.end()) {
                marks.declared |= m->second.declared;
                marks.entitled |= m->second.entitled;
                marks.allowed |= m->second.allowed;
            }
        }
        s.services.emplace_back(fromUtf8(use.service), marks);
    }
    return s;
}

QString summaryLine(const ItemSummary& item) {
    const auto shown = [](const QString& text) { return host::visibleControls(text); };
    QString line = shown(item.path);
    if (item.unreadable) return line + " — could not be read: " + shown(item.problem);
    line += "  version " + (item.version.isEmpty() ? QStringLiteral("none") : shown(item.version));
    line += "  id " + (item.identifier.isEmpty() ? QStringLiteral("none") : shown(item.identifier));
    line += "  " + item.verdict;
    if (!item.verdictReason.isEmpty()) line += " (" + shown(item.verdictReason) + ")";
    line += "  signed by " + shown(item.signer);
    if (!item.teamIdentifier.isEmpty()) line += ", team " + shown(item.teamIdentifier);
    line += "  hardened " + item.hardenedRuntime;
    QStringList services;
    for (const auto& [name, marks] : item.services) {
        if (!marks.any()) continue;
        QStringList how;
        if (marks.declared) how << "declared";
        if (marks.entitled) how << "entitled";
        if (marks.allowed) how << "allowed";
        services << shown(name) + " (" + how.join(", ") + ")";
    }
    line += "  may use " + (services.isEmpty() ? QStringLiteral("nothing") : services.join(", "));
    return line;
}

void scanItems(const QStringList& items, const host::ToolSet& tools, unsigned workers,
               const std::function<void(std::size_t index, ItemSummary summary)>& done,
               const host::CancelFlag& cancel) {
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        while (!(cancel && cancel->load())) {
            const std::size_t index = next.fetch_add(1);
            if (index >= std::size_t(items.size())) return;
            Inspection item;
            item.path = QFileInfo(items[int(index)]).absoluteFilePath();
            const ItemType type = itemTypeForPath(item.path);
            const QString problem =
                type.accepted()
                    ? openProblem(item.path, type.typeName == QLatin1String(applicationBundleType))
                    : QStringLiteral(
                          "it is neither an app bundle (a folder) nor an installer "
                          "package (a file)");
            if (!problem.isEmpty()) {
                ItemSummary s;
                s.path = item.path;
                s.name = QFileInfo(item.path).fileName();
                s.unreadable = true;
                s.problem = problem;
                done(index, std::move(s));
                continue;
            }
            item.typeName = type.typeName;
            inspect(item, tools, true, 1);
            done(index, summarize(item));
        }
    };
    const std::size_t count =
        std::min<std::size_t>(std::max(1U, workers), std::max<qsizetype>(1, items.size()));
    std::vector<std::thread> threads;
    threads.reserve(count - 1);
    for (std::size_t i = 1; i < count; ++i) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
}

}  // namespace varko::scan
