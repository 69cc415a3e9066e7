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
#include <thread>

#include <unistd.h>
#include "compare/compare.h"

#include "inspection/itemtype.h"
#include "report/iteminspection.h"
#include "scan/scan.h"
#include "systools/standardoptions.h"
#include "tools/pathbytes.h"
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
/// in the order found.
int scanFolders(const QStringList& folders, bool json, const host::ToolSet& tools) {
    const scan::Found found = scan::findItems(folders);
    int status = 0;
    for (const QString& problem : found.problems) {
        write(stderr, "varko-report: " + host::visibleControls(problem) + "\n");
        status = 2;
    }
    // A scan that left something out is no complete answer: said in words, and in JSON
    // Lines as records of their own ahead of the items, so a collector can't miss it.
    for (const scan::Cut& cut : found.cuts) {
        write(stderr, "varko-report: " + scan::cutText(cut) + "\n");
        if (json)
            write(stdout, QString::fromUtf8(
                              QJsonDocument(scan::cutJson(cut)).toJson(QJsonDocument::Compact)) +
                              "\n");
        status = 2;
    }

    Progress progress(std::size_t(found.items.size()));
    progress.draw(0);
    std::mutex lock;
    std::map<std::size_t, scan::ItemSummary> waiting;
    std::size_t nextToPrint = 0, finished = 0, troubled = 0;
    const auto print = [&](const scan::ItemSummary& item) {
        progress.clear();
        if (const QString trouble = troubleOf(item); !trouble.isEmpty()) {
            status = 2;
            ++troubled;
            sayTrouble(item.path, trouble);
        }
        if (!json)
            write(stdout, scan::summaryLine(item) + "\n");
        else if (!item.json.isEmpty())
            write(
                stdout,
                QString::fromUtf8(QJsonDocument(item.json).toJson(QJsonDocument::Compact)) + "\n");
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
                          .arg(found.items.size()));
    return status;
}

}  // namespace

constexpr auto usage =
    "usage: varko-report [--json] [--] ITEM...\n"
    "       varko-report --diff [--json] [--] OLD NEW\n"
    "       varko-report --scan [--json] [--] FOLDER...\n"
    "Prints what each app bundle or installer package declares about privacy "
    "and how it is signed.\n"
    "With --diff, what changed from OLD to NEW, most serious first; the exit status is\n"
    "0 when nothing changed, 1 when something did, 2 on trouble.\n"
    "With --scan, finds every app and package under the folders and prints one line "
    "for each (with --json, one JSON object per line).\n"
    "The exit status is 2 when an item or folder could not be read, a signature tool\n"
    "gave no answer, a piece was not checked for having too much to hash, or a scan was\n"
    "cut short by its bounds (said on standard error and, with --json, in a {\"cut\": ...}\n"
    "line).\n";
namespace {

/// `--diff OLD NEW`: both inspected whole, their changes printed; exits as diff does.
int runDiff(const QStringList& args, bool json) {
    if (args.size() != 2) {
        write(stderr, usage);
        return 2;
    }
    const host::ToolSet tools = host::ToolSet::system();
    QJsonObject objects[2];
    bool trouble = false;
    for (int i = 0; i < 2; ++i) {
        const ItemType type = itemTypeForPath(args[i]);
        if (!type.accepted()) {
            write(stderr, "varko-report: " + type.error + "\n");
            return 2;
        }
        Inspection item;
        item.path = QFileInfo(args[i]).absoluteFilePath();
        item.typeName = type.typeName;
        inspect(item, tools, true, runWork());
        if (item.toolFailed()) {
            write(stderr, "varko-report: " + item.path +
                              ": a signature tool gave no answer; the comparison may be wrong\n");
            trouble = true;
        }
        if (item.checksCut()) {
            write(stderr, "varko-report: " + item.path +
                              ": not every piece was checked: too much to hash\n");
            trouble = true;
        }
        objects[i] = inspectionJson(item);
    }
    const std::vector<compare::Change> changes = compare::compareItems(objects[0], objects[1]);
    if (json)
        write(stdout, QString::fromUtf8(
                          QJsonDocument(compare::comparisonJson(objects[0], objects[1], changes))
                              .toJson(QJsonDocument::Indented)));
    else
        write(stdout, compare::comparisonText(changes));
    return trouble ? 2 : changes.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = answerHelpOrVersion(argc, argv, "varko-report", VARKO_VERSION, usage))
        return *answered;
    QCoreApplication app(argc, argv);
    // From argv itself: Qt's decoding would lose the bytes of a name that is not UTF-8.
    QStringList args;
    for (int i = 1; i < argc; ++i) args << host::pathFromSystem(argv[i]);
    // The options come first, in any order; then the items.
    bool json = false, scanning = false, diffing = false;
    while (!args.isEmpty()) {
        if (args.first() == QLatin1String("--json"))
            json = true;
        else if (args.first() == QLatin1String("--scan"))
            scanning = true;
        else if (args.first() == QLatin1String("--diff"))
            diffing = true;
        else
            break;
        args.removeFirst();
    }
    if (scanning && diffing) {
        write(stderr, usage);
        return 2;
    }
    if (diffing) {
        if (!args.isEmpty() && args.first() == QLatin1String("--")) args.removeFirst();
        return runDiff(args, json);
    }
    if (!args.isEmpty() && args.first() == QLatin1String("--")) args.removeFirst();
    if (args.isEmpty()) {
        write(stderr, usage);
        return 2;
    }

    const host::ToolSet tools = host::ToolSet::system();
    if (scanning) return scanFolders(args, json, tools);
    int status = 0;
    QJsonArray items;
    for (const QString& path : args) {
        const ItemType type = itemTypeForPath(path);
        if (!type.accepted()) {
            write(stderr, "varko-report: " + type.error + "\n");
            status = 2;
            continue;
        }
        Inspection item;
        item.path = QFileInfo(path).absoluteFilePath();
        item.typeName = type.typeName;
        // The whole-app view only for JSON, so that the text stays the window's report.
        inspect(item, tools, json, runWork());
        const QString shownPath = host::visibleControls(item.path);
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
        if (json)
            items.append(inspectionJson(item));
        else
            write(stdout, item.fullText);
        std::fflush(stdout);
    }
    if (json)
        write(stdout, QString::fromUtf8(QJsonDocument(items).toJson(QJsonDocument::Indented)));
    return status;
}
