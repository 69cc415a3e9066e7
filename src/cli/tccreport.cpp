#include "cli/tccreport.h"

#include <QStringList>
#include <cstdio>
#include <ctime>

#include "overview/privacycatalog.h"
#include "privacy/tccgrants.h"
#include "tools/pathbytes.h"
#include "tools/utf8.h"

namespace varko::cli {

namespace {

QString text(const std::string& s) {
    return host::visibleControls(QString::fromStdString(s));
}

void complain(const QString& path, const QString& why) {
    const QByteArray line =
        ("varko-report: " + host::visibleControls(path) + ": " + why + "\n").toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

QString grantLine(const privacy::Grant& grant) {
    return text(privacy::grantText(grant));
}

}  // namespace

Expected<privacy::TccDatabase> openPrivacyDatabase(const QString& path) {
    auto db = privacy::readTccDatabase(host::pathToSystem(path).toStdString());
    if (!db) {
        complain(path, QString::fromStdString(db.error().message));
        return db.error();
    }
    // Immutable means the log is never read: what it holds is missing from the answer.
    if (db->walBeside)
        complain(path,
                 "a write-ahead log (-wal) lies beside it and is not read: changes still in it "
                 "are missing (copy the database with sqlite3's .backup to include them)");
    return std::move(*db);
}

QString grantItem(Inspection& item, const privacy::TccDatabase& db, const QString& database,
                  bool& ok) {
    ok = false;
    if (!item.overview || !item.document.isApp) {
        complain(item.path, "not an app: a privacy database holds grants for apps and tools");
        return {};
    }
    auto granted = privacy::grantsFor(db, host::pathToSystem(item.path).toStdString(),
                                      signing::TrustAnchors::apple(), std::time(nullptr));
    if (!granted) {
        complain(item.path,
                 "its code could not be found: " + QString::fromStdString(granted.error().message));
        return {};
    }
    ok = true;
    overview::Overview& overview = *item.overview;
    overview::addGrants(overview.services, granted->grants, overview::PrivacyCatalog::builtIn());
    overview.grantsRead = true;

    QString out =
        "What " + host::visibleControls(database) + " grants " + host::visibleControls(item.path);
    if (!granted->bundleIdentifier.empty()) out += " (" + text(granted->bundleIdentifier) + ")";
    out += ":\n";
    if (overview.services.empty())
        out += "  nothing: the app uses no privacy service, and none is granted\n";
    for (const overview::ServiceUse& use : overview.services) {
        QStringList marks;
        if (!use.usageKeys.empty()) marks << "declared";
        if (!use.entitlements.empty()) marks << "entitled";
        if (!use.allowances.empty()) marks << "allowed";
        if (!use.components.empty()) marks << "used by components";
        out += "  " + text(use.title);
        if (use.title != use.service) out += " (" + text(use.service) + ")";
        out += ": " + (marks.isEmpty() ? QStringLiteral("not used by the app") : marks.join(", "));
        if (use.grants.empty())
            out += "; no grant recorded\n";
        else if (use.grants.size() == 1)
            out += "; " + grantLine(use.grants.front()) + "\n";
        else {
            out += "\n";
            for (const privacy::Grant& g : use.grants) out += "    " + grantLine(g) + "\n";
        }
    }
    return out;
}

}  // namespace varko::cli
