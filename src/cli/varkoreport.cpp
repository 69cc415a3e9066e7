// varko-report: the inspection window's text for bundles and packages, for scripts
// and continuous integration.

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <unistd.h>
#include "cli/scandatabase.h"
#include "cli/tccreport.h"
#include "compare/compare.h"

#include "inspection/itemtype.h"
#include "overview/privacyprofile.h"
#include "package/container.h"
#include "report/iteminspection.h"
#include "scan/scan.h"
#include "tools/pathbytes.h"
#include "tools/safewrite.h"
#include "tools/utf8.h"

using namespace varko;

namespace {

unsigned cores() {
    return std::max(1U, std::thread::hardware_concurrency());
}

/// One bound for the whole run: a scan's workers and each item's checks share the cores.
const Work& runWork() {
    static const Work work{std::make_shared<CountedThreads>(cores() - 1), {}};
    return work;
}

void write(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

/// The version of the JSON's layout, raised when a key changes meaning or goes away.
constexpr int jsonVersion = 1;

/// `object` as printed: with the version of its layout, so that a collector can tell a
/// change of keys from a fault.
QJsonObject versioned(QJsonObject object) {
    object.insert(QStringLiteral("schemaVersion"), jsonVersion);
    return object;
}

void writeLine(const QJsonObject& object) {
    write(
        stdout,
        QString::fromUtf8(QJsonDocument(versioned(object)).toJson(QJsonDocument::Compact)) + "\n");
}

/// The bar on standard error while a scan runs, when someone is watching it.
class Progress {
public:
    explicit Progress(std::size_t total) : total(total), shown(::isatty(STDERR_FILENO) == 1) {}

    void draw(std::size_t finished) {
        if (!shown) return;
        constexpr std::size_t width = 30;
        const std::size_t filled = total == 0 ? width : finished * width / total;
        const QString bar =
            QString(qsizetype(filled), '#') + QString(qsizetype(width - filled), ' ');
        last = QStringLiteral("[%1] %2/%3").arg(bar).arg(finished).arg(total);
        write(stderr, "\r" + last);
        std::fflush(stderr);
    }

    /// Called before any line is written, on either stream, which may be the same terminal:
    /// the line then starts at the margin, and the next draw puts the bar below it.
    void clear() {
        if (!shown || last.isEmpty()) return;
        write(stderr, "\r" + QString(last.size(), ' ') + "\r");
        std::fflush(stderr);
        last.clear();
    }

private:
    std::size_t total;
    bool shown;
    QString last;
};

/// Why an item was not assessed in full, in words for standard error; empty when it was.
/// A rejected item was assessed: its verdict is the answer.
QString troubleOf(const scan::ItemSummary& item) {
    if (item.unreadable) return "could not be read: " + host::visibleControls(item.problem);
    if (item.toolFailed) return QStringLiteral("a signature tool gave no answer");
    if (item.checksCut) return QStringLiteral("not every piece was checked: too much to hash");
    return {};
}

void sayTrouble(const QString& path, const QString& trouble) {
    write(stderr, "varko-report: " + host::visibleControls(path) + ": " + trouble + "\n");
}

/// Inspects every item under `folders` on every core and prints each one's line, or object,
/// in the order found, and when `deep` those of the apps inside each package after it; with
/// `database` named, saves them there too.
int scanFolders(const QStringList& folders, bool json, bool deep, const QString& database,
                const host::ToolSet& tools) {
    scan::FindOptions options;
    // Disk images and zip archives are opened where the platform writes them out.
    options.limits.containers = deep && tools.profile().expandsContainers;
    const scan::Found found = scan::findItems(folders, options);
    std::optional<cli::ScanDatabase> db;
    if (!database.isEmpty()) db.emplace();
    int status = 0;
    for (const QString& problem : found.problems) {
        write(stderr, "varko-report: " + host::visibleControls(problem) + "\n");
        if (db) db->addProblem(problem);
        status = 2;
    }
    // A scan that left something out is no complete answer: said in words, and in JSON
    // Lines as records of their own ahead of the items, so a collector can't miss it.
    for (const scan::Cut& cut : found.cuts) {
        write(stderr, "varko-report: " + scan::cutText(cut) + "\n");
        if (json) writeLine(scan::cutJson(cut));
        if (db) db->add(cut);
        status = 2;
    }

    Progress progress(std::size_t(found.items.size()));
    progress.draw(0);
    std::mutex lock;
    std::map<std::size_t, scan::ItemSummary> waiting;
    std::size_t nextToPrint = 0, finished = 0, troubled = 0;
    std::size_t listed = 0;
    const auto printOne = [&](const scan::ItemSummary& item) {
        ++listed;
        if (const QString trouble = troubleOf(item); !trouble.isEmpty()) {
            status = 2;
            ++troubled;
            sayTrouble(item.path, trouble);
        }
        if (!json)
            write(stdout, scan::summaryLine(item) + "\n");
        else if (!item.json.isEmpty())
            writeLine(item.json);
        if (db) db->add(item);
    };
    const auto print = [&](const scan::ItemSummary& item) {
        progress.clear();
        // A container is no item of its own: only its apps are, or why it can't be opened.
        if (!item.isContainer || item.unreadable) printOne(item);
        if (deep)
            for (const scan::ItemSummary& inside : item.inside) printOne(inside);
        std::fflush(stdout);
    };
    const unsigned workers = cores();
    // Items that finished ahead of one still being inspected wait for it, up to a bound; a
    // worker beyond it waits too, so that one slow item can't make the rest pile up.
    const std::size_t window = std::max<std::size_t>(64, 4 * std::size_t(workers));
    std::condition_variable printed;
    scan::scanItems(found.items, tools, runWork(), workers,
                    [&](std::size_t index, scan::ItemSummary summary) {
                        std::unique_lock guard(lock);
                        printed.wait(guard, [&] { return index < nextToPrint + window; });
                        ++finished;
                        waiting.emplace(index, std::move(summary));
                        // Printed in the order found as soon as the next one is in, not as they
                        // finish.
                        for (auto it = waiting.find(nextToPrint); it != waiting.end();
                             it = waiting.find(nextToPrint)) {
                            print(it->second);
                            waiting.erase(it);
                            ++nextToPrint;
                        }
                        printed.notify_all();
                        progress.draw(finished);
                    });
    progress.clear();
    if (troubled > 0)
        write(stderr, QStringLiteral("varko-report: %1 of %2 items could not be assessed in full\n")
                          .arg(troubled)
                          .arg(listed));
    if (db) {
        if (const Expected<void> saved = db->save(database); !saved) {
            write(stderr, "varko-report: " + host::visibleControls(database) +
                              ": could not be written: " +
                              QString::fromStdString(saved.error().message) + "\n");
            status = 2;
        }
    }
    return status;
}

}  // namespace

constexpr auto usage =
    "usage: varko-report [--json] [--] ITEM...\n"
    "       varko-report --diff [--json] [--] OLD NEW\n"
    "       varko-report --scan [--deep] [--json] [--sqlite FILE] [--] FOLDER...\n"
    "       varko-report --tcc DB [--json] [--] APP...\n"
    "       varko-report --pppc [--receiver APP]... [-o FILE] [--] APP\n"
    "Prints what each app bundle or installer package declares about privacy "
    "and how it is signed.\n"
    "Options may come anywhere before --; every argument after it is an item.\n"
    "With --diff, what changed from OLD to NEW, most serious first; the exit status is\n"
    "0 when nothing changed, 1 when something did, 2 on trouble.\n"
    "With --scan, finds every app and package under the folders and prints one line "
    "for each (with --json, one JSON object per line); with --deep, one for each app inside\n"
    "a package too, its path PACKAGE!/where/it/installs, and (on Linux) for each app in a\n"
    "disk image or zip archive, its path CONTAINER/path/inside.\n"
    "The exit status is 2 when an item or folder could not be read, a signature tool\n"
    "gave no answer, a piece was not checked for having too much to hash, or a scan was\n"
    "cut short by its bounds (said on standard error and, with --json, in a {\"cut\": ...}\n"
    "line); a rejected item was assessed, and counts as no trouble.\n"
    "With --sqlite FILE, a scan also replaces FILE with a SQLite database of the items,\n"
    "their components and the privacy services they may use.\n"
    "With --tcc DB, what the privacy database DB (a Mac's TCC.db, read without being\n"
    "changed) grants each app, service by service, and whether each grant's code\n"
    "requirement holds for this build; with --json, each service gains \"granted\".\n"
    "With --pppc, writes a configuration profile for MDM (.mobileconfig) that sets the\n"
    "app's privacy services (Privacy Preferences Policy Control), to standard output or,\n"
    "with -o, to FILE; what it denies or leaves out is said on standard error. Each\n"
    "--receiver names an app it sends Apple events to, by that app's own requirement.\n";

namespace {

/// The command line as GNU tools read theirs: options anywhere before "--", every other
/// argument an operand, in order; "-" alone is an operand, as it is to them.
struct CommandLine {
    bool json = false, scan = false, diff = false, pppc = false, deep = false;
    QString output;         ///< -o's file for --pppc; empty: standard output
    QStringList receivers;  ///< --receiver's apps, for --pppc
    QString sqlite;         ///< --sqlite's file; empty without it
    QString tcc;            ///< --tcc's privacy database; empty without it
    /// --help or --version, when one came before anything wrong.
    QString answer;
    QStringList operands;
    QString refused;  ///< why the command line can't be run, in words; empty when it can
};

CommandLine parseCommandLine(const QStringList& args) {
    CommandLine line;
    bool optionsEnded = false, sqliteNamed = false, tccNamed = false, outputNamed = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || arg.size() < 2 || !arg.startsWith(u'-'))
            line.operands << arg;
        else if (arg == u"--")
            optionsEnded = true;
        else if (arg == u"--json")
            line.json = true;
        else if (arg == u"--scan")
            line.scan = true;
        else if (arg == u"--deep")
            line.deep = true;
        else if (arg == u"--diff")
            line.diff = true;
        else if (arg == u"--pppc")
            line.pppc = true;
        else if (arg == u"-o" || arg == u"--output" || arg.startsWith(u"--output=")) {
            outputNamed = true;
            if (arg.startsWith(u"--output="))
                line.output = arg.mid(9);
            else if (i + 1 < args.size())
                line.output = args[++i];
        } else if (arg == u"--receiver" || arg.startsWith(u"--receiver=")) {
            if (arg != u"--receiver")
                line.receivers << arg.mid(11);
            else
                line.receivers << (i + 1 < args.size() ? args[++i] : QString());
        } else if (arg == u"--sqlite" || arg.startsWith(u"--sqlite=")) {
            sqliteNamed = true;
            if (arg != u"--sqlite")
                line.sqlite = arg.mid(9);
            else if (i + 1 < args.size())
                line.sqlite = args[++i];
        } else if (arg == u"--tcc" || arg.startsWith(u"--tcc=")) {
            tccNamed = true;
            if (arg != u"--tcc")
                line.tcc = arg.mid(6);
            else if (i + 1 < args.size())
                line.tcc = args[++i];
        } else if (arg == u"--help" || arg == u"-h" || arg == u"--version") {
            if (line.answer.isEmpty() && line.refused.isEmpty()) line.answer = arg;
        } else if (line.refused.isEmpty() && line.answer.isEmpty()) {
            // It may be a stranger's file name that a script forgot to put after "--".
            constexpr qsizetype maxShown = 200;
            line.refused = "unrecognized option '" + host::visibleControls(arg.left(maxShown)) +
                           (arg.size() > maxShown ? QStringLiteral("…'") : QStringLiteral("'"));
        }
    }
    if (!line.refused.isEmpty() || !line.answer.isEmpty()) return line;
    if (line.scan && line.diff)
        line.refused = QStringLiteral("--scan and --diff can't be used together");
    else if (sqliteNamed && line.sqlite.isEmpty())
        line.refused = QStringLiteral("--sqlite needs a file name");
    else if (line.deep && !line.scan)
        line.refused = QStringLiteral("--deep works only with --scan");
    else if (sqliteNamed && !line.scan)
        line.refused = QStringLiteral("--sqlite works only with --scan");
    else if (tccNamed && line.tcc.isEmpty())
        line.refused = QStringLiteral("--tcc needs a privacy database");
    else if (tccNamed && (line.scan || line.diff || line.pppc))
        line.refused = QStringLiteral("--tcc can't be used with --scan, --diff or --pppc");
    else if (line.pppc && (line.scan || line.diff || line.json || sqliteNamed))
        line.refused =
            QStringLiteral("--pppc can't be used with --json, --scan, --diff or --sqlite");
    else if ((outputNamed || !line.receivers.isEmpty()) && !line.pppc)
        line.refused = QStringLiteral("-o and --receiver work only with --pppc");
    else if (line.receivers.contains(QString()))
        line.refused = QStringLiteral("--receiver needs an app");
    else if (outputNamed && line.output.isEmpty())
        line.refused = QStringLiteral("-o needs a file name");
    else if (line.pppc && line.operands.size() != 1)
        line.refused = QStringLiteral("--pppc takes one app");
    else if (line.diff && line.operands.size() != 2)
        line.refused = QStringLiteral("--diff takes two items, OLD and NEW");
    else if (line.operands.isEmpty())
        line.refused =
            line.scan ? QStringLiteral("no folder named") : QStringLiteral("no item named");
    return line;
}

/// The item at `path` inspected, or nothing when it is no item (said on standard error).
std::optional<Inspection> inspectPath(const QString& path, const host::ToolSet& tools,
                                      bool wholeApp) {
    const ItemType type = itemTypeForPath(path);
    if (!type.accepted()) {
        write(stderr, "varko-report: " + host::visibleControls(type.error) + "\n");
        return std::nullopt;
    }
    Inspection item;
    item.path = QFileInfo(path).absoluteFilePath();
    item.typeName = type.typeName;
    inspect(item, tools, wholeApp, runWork());
    return item;
}

/// Whether `path` is a disk image or zip archive that this system opens by writing it out.
bool isContainerFile(const QString& path, const host::ToolSet& tools) {
    const QFileInfo file(path);
    return tools.profile().expandsContainers && file.isFile() &&
           package::containerKindForName(host::pathToSystem(file.fileName()).toStdString());
}

/// Each app of the disk image or zip archive at `path`, inspected from a copy that `keep`
/// holds; their reports name the container. Nothing when it could not be opened or holds
/// no app (said on standard error).
std::optional<std::vector<Inspection>> inspectContainer(
    const QString& path, const host::ToolSet& tools, bool wholeApp,
    std::shared_ptr<package::PrivateFolder>& keep) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString shownPath = host::visibleControls(absolute);
    package::ContainerBudget budget;
    budget.cancel = runWork().cancel.get();
    const auto expanded =
        package::expandContainer(host::pathToSystem(absolute).toStdString(), budget);
    if (!expanded) {
        write(stderr, "varko-report: " +
                          host::visibleControls(QString::fromStdString(expanded.error().message)) +
                          "\n");
        return std::nullopt;
    }
    for (const Error& problem : expanded->problems)
        write(stderr, "varko-report: " + shownPath + ": " +
                          host::visibleControls(QString::fromStdString(problem.message)) + "\n");
    if (expanded->apps.empty()) {
        write(stderr, "varko-report: " + shownPath + ": no app inside\n");
        return std::nullopt;
    }
    keep = expanded->folder;
    const QString copyFolder =
        host::pathFromSystem(QByteArray::fromStdString(expanded->contents.native()));
    std::vector<Inspection> apps;
    for (std::size_t i = 0; i < expanded->apps.size(); ++i) {
        Inspection& item = apps.emplace_back();
        item.path = host::pathFromSystem(QByteArray::fromStdString(expanded->apps[i].native()));
        item.typeName = QString::fromLatin1(applicationBundleType);
        item.container = Inspection::Container{
            absolute, host::pathFromSystem(QByteArray::fromStdString(expanded->pathsInside[i])),
            copyFolder, absolute};
        inspect(item, tools, wholeApp, runWork());
    }
    return apps;
}

/// `--diff OLD NEW`: both inspected whole, their changes printed; exits as diff does.
int runDiff(const QStringList& args, bool json) {
    const host::ToolSet tools = host::ToolSet::system();
    QJsonObject objects[2];
    bool trouble = false;
    for (int i = 0; i < 2; ++i) {
        const std::optional<Inspection> item = inspectPath(args[i], tools, true);
        if (!item) return 2;
        // Changes against an item that was not read in full would be no answer, though
        // they are still printed for what they are worth.
        const scan::ItemSummary summary = scan::summarize(*item);
        if (const QString why = troubleOf(summary); !why.isEmpty()) {
            sayTrouble(item->path, why);
            trouble = true;
        }
        objects[i] = inspectionJson(*item);
    }
    const std::vector<compare::Change> changes = compare::compareItems(objects[0], objects[1]);
    if (json)
        write(stdout, QString::fromUtf8(
                          QJsonDocument(versioned(compare::comparisonJson(
                                            versioned(objects[0]), versioned(objects[1]), changes)))
                              .toJson(QJsonDocument::Indented)));
    else
        write(stdout, compare::comparisonText(changes));
    return trouble ? 2 : changes.empty() ? 0 : 1;
}

/// `--pppc APP [--receiver APP]... [-o FILE]`: the app's privacy profile, written whole or
/// not at all.
int runPrivacyProfile(const QString& path, const QStringList& receiverPaths,
                      const QString& output) {
    const QString shownPath = host::visibleControls(path);
    std::vector<overview::ProfileIdentity> receivers;
    for (const QString& receiver : receiverPaths) {
        const auto named = overview::profileIdentity(
            overview::readOverview(host::pathToSystem(receiver).toStdString()));
        if (!named) {
            write(stderr, "varko-report: " + host::visibleControls(receiver) +
                              ": no receiver for a privacy profile: " +
                              host::visibleControls(QString::fromStdString(named.error().message)) +
                              "\n");
            return 2;
        }
        receivers.push_back(*named);
    }
    const overview::Overview read = overview::readOverview(host::pathToSystem(path).toStdString());
    const Expected<overview::PrivacyProfile> profile = overview::privacyProfile(read, receivers);
    if (!profile) {
        write(stderr, "varko-report: " + shownPath + ": no privacy profile: " +
                          host::visibleControls(QString::fromStdString(profile.error().message)) +
                          "\n");
        return 2;
    }
    for (const std::string& warning : profile->warnings)
        write(stderr, "varko-report: warning: " +
                          host::visibleControls(QString::fromStdString(warning)) + "\n");
    if (output.isEmpty() || output == u"-") {
        std::fwrite(profile->xml.data(), 1, profile->xml.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 2;
    }
    if (const Expected<void> written =
            host::writeFileAtomically(output, profile->xml.data(), qint64(profile->xml.size()));
        !written) {
        write(stderr, "varko-report: " + host::visibleControls(output) +
                          ": could not be written: " +
                          QString::fromStdString(written.error().message) + "\n");
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // From argv itself: Qt's decoding would lose the bytes of a name that is not UTF-8.
    QStringList args;
    for (int i = 1; i < argc; ++i) args << host::pathFromSystem(argv[i]);
    const CommandLine line = parseCommandLine(args);
    if (line.answer == u"--version") {
        write(stdout, QStringLiteral("varko-report " VARKO_VERSION "\n"));
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!line.answer.isEmpty()) {
        std::fputs(usage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!line.refused.isEmpty()) {
        write(stderr, "varko-report: " + line.refused + "\n");
        std::fputs(usage, stderr);
        return 2;
    }
    if (line.diff) return runDiff(line.operands, line.json);
    if (line.pppc) return runPrivacyProfile(line.operands.first(), line.receivers, line.output);

    const host::ToolSet tools = host::ToolSet::system();
    if (!line.sqlite.isEmpty()) {
        // Said before the scan, not after minutes of it.
        if (const QString why = cli::databaseRefusal(line.sqlite); !why.isEmpty()) {
            write(stderr,
                  "varko-report: " + host::visibleControls(line.sqlite) + ": " + why + "\n");
            return 2;
        }
    }
    if (line.scan) return scanFolders(line.operands, line.json, line.deep, line.sqlite, tools);
    const bool json = line.json;
    std::optional<privacy::TccDatabase> tcc;
    if (!line.tcc.isEmpty()) {
        auto opened = cli::openPrivacyDatabase(line.tcc);
        if (!opened) return 2;
        tcc = std::move(*opened);
    }
    int status = 0;
    QJsonArray items;
    for (const QString& path : line.operands) {
        // The whole-app view only for JSON, so that the text stays the window's report.
        const bool wholeApp = json || tcc;
        std::shared_ptr<package::PrivateFolder> copy;
        std::optional<std::vector<Inspection>> inspected;
        if (isContainerFile(path, tools)) {
            inspected = inspectContainer(path, tools, wholeApp, copy);
        } else if (std::optional<Inspection> one = inspectPath(path, tools, wholeApp)) {
            inspected.emplace();
            inspected->push_back(std::move(*one));
        }
        if (!inspected) {
            status = 2;
            continue;
        }
        for (Inspection& item : *inspected) {
            const QString shownPath = host::visibleControls(
                item.container ? item.container->path + u'/' + item.container->pathInside
                               : item.path);
            if (item.signature.notAPackage) {
                write(stderr, "varko-report: " + shownPath + ": not a valid installer package: " +
                                  host::visibleControls(
                                      QString::fromStdString(item.signature.notAPackage->message)) +
                                  "\n");
                status = 2;
            }
            if (item.toolFailed()) {
                write(stderr, "varko-report: " + shownPath +
                                  ": a signature tool gave no answer; see the report\n");
                status = 2;
            }
            if (item.checksCut()) {
                write(stderr, "varko-report: " + shownPath +
                                  ": not every piece was checked: too much to hash\n");
                status = 2;
            }
            bool granted = true;
            const QString grants = tcc ? cli::grantItem(item, *tcc, line.tcc, granted) : QString();
            if (!granted) status = 2;
            if (json)
                items.append(versioned(inspectionJson(item)));
            else
                write(stdout, tcc ? grants : item.fullText);
            std::fflush(stdout);
        }
    }
    if (json)
        write(stdout, QString::fromUtf8(QJsonDocument(items).toJson(QJsonDocument::Indented)));
    return status;
}
