// varko-report: the inspection window's text for bundles and packages, for scripts
// and continuous integration.

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <cstdio>
#include <thread>

#include "compare/compare.h"
#include "inspection/itemtype.h"
#include "report/iteminspection.h"
#include "systools/standardoptions.h"
#include "tools/pathbytes.h"

using namespace varko;

namespace {

void write(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

}  // namespace

constexpr auto usage =
    "usage: varko-report [--json] [--] ITEM...\n"
    "       varko-report [--json] --diff OLD NEW\n"
    "Prints what each app bundle or installer package declares about privacy "
    "and how it is signed.\n"
    "With --diff, what changed from OLD to NEW, most serious first; the exit status is\n"
    "0 when nothing changed, 1 when something did, 2 on trouble.\n";

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
        inspect(item, tools, true, std::max(1U, std::thread::hardware_concurrency()));
        if (item.toolFailed()) {
            write(stderr, "varko-report: " + item.path +
                              ": a signature tool gave no answer; the comparison may be wrong\n");
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
    bool json = false;
    if (!args.isEmpty() && args.first() == QLatin1String("--json")) {
        json = true;
        args.removeFirst();
    }
    if (!args.isEmpty() && args.first() == QLatin1String("--diff")) {
        args.removeFirst();
        if (!args.isEmpty() && args.first() == QLatin1String("--")) args.removeFirst();
        return runDiff(args, json);
    }
    if (!args.isEmpty() && args.first() == QLatin1String("--")) args.removeFirst();
    if (args.isEmpty()) {
        write(stderr, usage);
        return 2;
    }

    const host::ToolSet tools = host::ToolSet::system();
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
        inspect(item, tools, json, std::max(1U, std::thread::hardware_concurrency()));
        if (item.toolFailed()) {
            write(stderr, "varko-report: " + item.path +
                              ": a signature tool gave no answer; see the report\n");
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
