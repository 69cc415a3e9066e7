#include "scan/scan.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "inspection/itemtype.h"
#include "overview/privacycatalog.h"
#include "overview/privacyservices.h"
#include "package/container.h"
#include "scan/inprocesstools.h"
#include "tools/pathbytes.h"
#include "tools/utf8.h"

namespace varko::scan {

namespace {

QString fromBytes(const std::string& bytes) {
    return host::pathFromSystem(bytes);
}

QString why(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

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

Error openError(int error) {
    return {0, why(error).toStdString(),
            error == ENOENT ? ErrorCode::missing : ErrorCode::unreadable};
}

/// Whether the item at `path` can be read at all, before any tool is run on it.
Expected<void> openItem(const QString& path, bool folder) {
    const QByteArray bytes = host::pathToSystem(path);
    if (folder) {
        DIR* dir = ::opendir(bytes.constData());
        if (dir == nullptr) return openError(errno);
        ::closedir(dir);
        return {};
    }
    const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return openError(errno);
    ::close(fd);
    return {};
}

/// Marks `s` as not read, and its JSON says so with the kind, for scripts.
void markUnreadable(ItemSummary& s, ErrorCode code, QString problem) {
    s.unreadable = true;
    s.problem = std::move(problem);
    s.problemCode = code;
    if (s.json.isEmpty()) s.json["path"] = s.path;
    s.json["error"] =
        QJsonObject{{"code", fromUtf8(std::string(errorCodeName(code)))}, {"message", s.problem}};
}

}  // namespace

Found findItems(const QStringList& folders, const FindOptions& options) {
    std::vector<std::string> roots;
    for (const QString& folder : folders)
        roots.push_back(host::pathToSystem(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()))
                            .toStdString());
    std::function<void(const std::string&)> hook;
    if (options.beforeEntering)
        hook = [&](const std::string& folder) { options.beforeEntering(fromBytes(folder)); };
    const Walked walked = walkFolders(roots, options.limits, hook, options.cancel);
    Found found;
    for (const std::string& item : walked.items) found.items << fromBytes(item);
    // By path, ignoring case first as a listing does, then exactly, so the order is total.
    std::sort(found.items.begin(), found.items.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    for (const auto& [path, why] : walked.problems)
        found.problems << fromBytes(path) + ": " + QString::fromLocal8Bit(why);
    for (const auto& cut : walked.cuts)
        found.cuts.push_back({cut.kind, fromBytes(cut.folder), cut.limit, cut.times});
    return found;
}

const char* cutName(CutKind kind) {
    switch (kind) {
        case CutKind::depth:
            return "depth";
        case CutKind::items:
            return "items";
        case CutKind::entries:
            return "entries";
        case CutKind::problems:
            break;
    }
    return "problems";
}

QString cutText(const Cut& cut) {
    const QString where = host::visibleControls(cut.folder);
    switch (cut.kind) {
        case CutKind::depth:
            return cut.times == 1 ? QStringLiteral(
                                        "the scan went no deeper than %1 folders: %2 was not "
                                        "looked into")
                                        .arg(cut.limit)
                                        .arg(where)
                                  : QStringLiteral(
                                        "the scan went no deeper than %1 folders: %2 folders "
                                        "were not looked into, the first %3")
                                        .arg(cut.limit)
                                        .arg(cut.times)
                                        .arg(where);
        case CutKind::items:
            return QStringLiteral("the scan stopped at %1 items, in %2; the rest is not listed")
                .arg(cut.limit)
                .arg(where);
        case CutKind::entries:
            return QStringLiteral(
                       "the scan stopped after looking at %1 entries, in %2; the rest is not "
                       "listed")
                .arg(cut.limit)
                .arg(where);
        case CutKind::problems:
            break;
    }
    return QStringLiteral("only the first %1 problems are named: %2 more, the first at %3")
        .arg(cut.limit)
        .arg(cut.times)
        .arg(where);
}

QJsonObject cutJson(const Cut& cut) {
    return {{"cut", QJsonObject{{"kind", cutName(cut.kind)},
                                {"folder", cut.folder},
                                {"limit", qint64(cut.limit)},
                                {"times", qint64(cut.times)}}}};
}

ItemSummary summarize(const Inspection& item) {
    ItemSummary s;
    s.path = item.path;
    s.name = QFileInfo(item.path).fileName();
    const Info* info = item.document.theInfo.get();
    if (info == nullptr) {
        markUnreadable(s, ErrorCode::unreadable, QStringLiteral("it was not read"));
        return s;
    }
    s.json = inspectionJson(item);
    s.toolFailed = item.toolFailed();
    s.checksCut = item.checksCut();
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
    if (!item.document.isApp && item.signature.notAPackage) {
        markUnreadable(s, item.signature.notAPackage->code,
                       "it is not a valid installer package: " +
                           fromUtf8(item.signature.notAPackage->message));
    } else if (item.document.isApp) {
        if (!info->bundle) {
            markUnreadable(s, ErrorCode::unreadable,
                           QStringLiteral("it is not a bundle that can be opened"));
        } else if (item.overview && item.overview->problem) {
            markUnreadable(s, item.overview->problem->code,
                           (item.noCode ? QStringLiteral("it holds no code: ") : QString()) +
                               fromUtf8(item.overview->problem->message));
        } else if (!info->infoPlistProblem.isEmpty()) {
            markUnreadable(s, ErrorCode::malformed,
                           "its Info.plist can't be read: " + info->infoPlistProblem);
        }
    }
    for (const PayloadApp& app : item.payloadInspections) {
        if (app.kind != package::CodeKind::app) continue;
        ItemSummary inner = summarize(app.inspection);
        // Where it would be installed, inside the package it comes in: its copy is gone.
        const QString installed = fromUtf8(app.installedPath);
        inner.container = s.path;
        inner.path = s.path + u'!' + installed;
        inner.name = QFileInfo(installed).fileName();
        s.inside.push_back(std::move(inner));
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
        s.services.push_back(
            {fromUtf8(use.service), use.known ? fromUtf8(use.title) : QString(), marks});
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
    // The names are the item's own, so a stranger could list thousands: past a bound they
    // are counted, and the JSON keeps them all.
    constexpr qsizetype maxNamed = 30;
    QStringList services;
    qsizetype unnamed = 0;
    for (const ItemService& service : item.services) {
        if (!service.marks.any()) continue;
        if (services.size() == maxNamed) {
            ++unnamed;
            continue;
        }
        QStringList how;
        if (service.marks.declared) how << "declared";
        if (service.marks.entitled) how << "entitled";
        if (service.marks.allowed) how << "allowed";
        const QString words = service.title.isEmpty() ? "unknown service " + shown(service.name)
                                                      : shown(service.title);
        services << words + " (" + how.join(", ") + ")";
    }
    if (unnamed > 0) services << QStringLiteral("and %1 more").arg(unnamed);
    line += "  may use " + (services.isEmpty() ? QStringLiteral("nothing") : services.join(", "));
    return line;
}

namespace {

/// The apps of a disk image or zip archive, each inspected from the copy written out of it
/// and named by where it lies inside the container.
ItemSummary scanContainer(const QString& path, const host::ToolSet& tools, const Work& work) {
    ItemSummary s;
    s.path = path;
    s.name = QFileInfo(path).fileName();
    s.isContainer = true;
    package::ContainerBudget budget;
    budget.cancel = work.cancel.get();
    const auto expanded = package::expandContainer(host::pathToSystem(path).toStdString(), budget);
    if (!expanded) {
        markUnreadable(s, expanded.error().code, fromUtf8(expanded.error().message));
        return s;
    }
    if (expanded->apps.empty()) {
        markUnreadable(s, ErrorCode::missing, QStringLiteral("no app inside"));
        return s;
    }
    const QString copyFolder =
        host::pathFromSystem(QByteArray::fromStdString(expanded->contents.native()));
    for (std::size_t i = 0; i < expanded->apps.size() && !work.cancelled(); ++i) {
        Inspection app;
        app.path = host::pathFromSystem(QByteArray::fromStdString(expanded->apps[i].native()));
        app.typeName = QString::fromLatin1(applicationBundleType);
        const QString inside =
            host::pathFromSystem(QByteArray::fromStdString(expanded->pathsInside[i]));
        app.container = Inspection::Container{path, inside, copyFolder, path};
        inspect(app, tools, true, work);
        ItemSummary summary = summarize(app);
        summary.path = path + u'/' + inside;
        summary.container = path;
        s.inside.push_back(std::move(summary));
    }
    return s;
}

}  // namespace

void scanItems(const QStringList& items, const host::ToolSet& tools, const Work& work,
               unsigned workers,
               const std::function<void(std::size_t index, ItemSummary summary)>& done) {
#if defined(__APPLE__)
    const host::ToolSet& used = tools;
#else
    // Our stand-ins are our own code: a scan runs it here rather than start three processes
    // for every item, which bounded it by how fast this machine starts them.
    const host::ToolSet used = inProcessTools(tools);
#endif
    forEachShared(work, std::size_t(items.size()), workers, [&](std::size_t index) {
        const QString path = QFileInfo(items[int(index)]).absoluteFilePath();
        if (tools.profile().expandsContainers &&
            package::containerKindForName(host::pathToSystem(path).toStdString())) {
            ItemSummary s = scanContainer(path, used, work);
            if (!work.cancelled()) done(index, std::move(s));
            return;
        }
        Inspection item;
        item.path = path;
        const ItemType type = itemTypeForPath(item.path);
        const Expected<void> opened =
            type.accepted()
                ? openItem(item.path, type.typeName == QLatin1String(applicationBundleType))
            : QFileInfo::exists(item.path)
                ? Error{0,
                        "it is neither an app bundle (a folder) nor an installer package (a "
                        "file, or an older package's folder)",
                        ErrorCode::unsupported}
                : Error{0, "it is not there", ErrorCode::missing};
        if (!opened) {
            ItemSummary s;
            s.path = item.path;
            s.name = QFileInfo(item.path).fileName();
            markUnreadable(s, opened.error().code, fromUtf8(opened.error().message));
            done(index, std::move(s));
            return;
        }
        item.typeName = type.typeName;
        inspect(item, used, true, work);
        // Tools ended by the cancel answered nothing worth reporting.
        if (!work.cancelled()) done(index, summarize(item));
    });
}

}  // namespace varko::scan
