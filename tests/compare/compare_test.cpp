// Comparing two versions of an app: from real inspections of apps signed by the test
// authority, and from objects crafted from a real one where the test signer can't go
// (an accepted verdict needs Apple's root).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>

#include "compare/compare.h"
#include "fixtures/componentbundle.h"
#include "format/casetable.h"
#include "report/iteminspection.h"

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace varko::compare {
namespace {

using namespace examplegen;
namespace fs = std::filesystem;

/// A change as one line, for comparing whole lists at a glance; the test authority's hashes,
/// new each run, as H"…".
QString row(const Change& c) {
    static const QRegularExpression hash(QStringLiteral("H\"[0-9a-f]{40}\""));
    QString line = severityName(c.severity) + " " + c.what + " [" + c.key + "] {" + c.component +
                   "} " + c.oldValue + " -> " + c.newValue;
    return line.replace(hash, QStringLiteral("H\"…\""));
}

QStringList rows(const std::vector<Change>& changes) {
    QStringList list;
    for (const Change& c : changes) list << row(c);
    return list;
}

class CompareTest : public ::testing::Test {
protected:
    static QTemporaryDir& dir() {
        static QTemporaryDir shared;
        return shared;
    }

    /// Writes the app under a folder of its own, lets `edit` change what was written, and
    /// inspects it as varko-report does.
    static QJsonObject inspected(const ComponentApp& app, const std::string& folder,
                                 const std::function<void(const fs::path&)>& edit = {}) {
        const fs::path parent = fs::path(dir().path().toStdString()) / folder;
        fs::create_directories(parent);
        const auto written = writeComponentApp(parent, app, sharedPki());
        EXPECT_TRUE(written) << written.error().message;
        if (!written) return {};
        if (edit) edit(*written);
        Inspection item;
        item.path = QString::fromStdString(written->string());
        item.typeName = QStringLiteral("com.apple.application-bundle");
        inspect(item, host::ToolSet::system(VARKO_BIN_DIR), true);
        EXPECT_FALSE(item.toolFailed());
        return inspectionJson(item);
    }

    /// The first version: a camera app with a framework, a helper and an XPC service.
    static ComponentApp firstVersion() {
        ComponentApp app;
        app.info.set("NSCameraUsageDescription", "Scans codes.");
        app.info.set("NSMicrophoneUsageDescription", "Records notes.");
        app.entitlements = entitlementsGranting(
            {"com.apple.security.device.camera", "com.apple.security.device.audio-input"});
        app.privacyManifest = privacyManifestText(false, {}, {}, {});
        Piece kit = pieceAt(PieceKind::framework, "Contents/Frameworks/Kit.framework");
        kit.privacyManifest = privacyManifestText(false, {}, {}, {});
        Piece worker = pieceAt(PieceKind::xpcService, "Contents/XPCServices/Worker.xpc");
        worker.info.set("NSContactsUsageDescription", "Finds friends.");
        app.pieces = {kit, worker, pieceAt(PieceKind::helper, "Contents/MacOS/tool")};
        return app;
    }

    static const QJsonObject& first() {
        static const QJsonObject shared = inspected(firstVersion(), "first");
        return shared;
    }
};

TEST_F(CompareTest, AnUnchangedAppHasNoChanges) {
    const QJsonObject again = inspected(firstVersion(), "again");
    const std::vector<Change> changes = compareItems(first(), again);
    EXPECT_TRUE(changes.empty()) << rows(changes).join('\n').toStdString();
    EXPECT_EQ(comparisonText(changes), "No changes.\n");
}

TEST_F(CompareTest, EveryKindOfChangeInAnUpdateMostSeriousFirst) {
    ComponentApp update = firstVersion();
    update.version = "2.0";
    update.identifier = "com.example.varko.renamed";
    update.signing = Signing::otherTeam;
    update.hardenedRuntime = false;
    update.info = {};
    update.info.set("NSCameraUsageDescription", "Scans codes and faces.");
    update.info.set("NSLocationUsageDescription", "Finds shops.");
    update.entitlements = entitlementsGranting({"com.apple.security.device.camera",
                                                "com.apple.security.personal-information.location",
                                                "com.apple.security.get-task-allow"});
    update.privacyManifest =
        privacyManifestText(true, {"ads.example"}, {"NSPrivacyCollectedDataTypeEmailAddress"},
                            {{"NSPrivacyAccessedAPICategoryUserDefaults", {"CA92.1"}}});
    Piece worker = pieceAt(PieceKind::xpcService, "Contents/XPCServices/Worker.xpc");
    worker.info.set("NSContactsUsageDescription", "Finds friends nearby.");
    worker.signing = Signing::otherTeam;
    worker.version = "1.1";
    worker.entitlements =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
        "<key>com.apple.private.tcc.allow</key><array>"
        "<string>kTCCServiceAddressBook</string></array></dict></plist>";
    update.pieces = {worker, pieceAt(PieceKind::helper, "Contents/MacOS/tool"),
                     pieceAt(PieceKind::plugIn, "Contents/PlugIns/Extra.bundle")};
    const std::vector<Change> changes = compareItems(first(), inspected(update, "update"));

    const QString worker_ = QStringLiteral("Contents/XPCServices/Worker.xpc");
    EXPECT_EQ(rows(changes), QString::fromStdString(varko::testing::dataFile("update-changes.txt"))
                                 .split('\n', Qt::SkipEmptyParts));

    const QString text = comparisonText(changes);
    EXPECT_TRUE(text.startsWith("[high] Team ID: TEAM123456 → OTHER98765\n")) << text.toStdString();
    EXPECT_TRUE(
        text.contains("[medium] Usage description NSLocationUsageDescription: added: "
                      "Finds shops.\n"));
    EXPECT_TRUE(text.contains("[medium] Private allowance kTCCServiceAddressBook (" + worker_ +
                              "): added\n"));
    EXPECT_TRUE(
        text.contains("[low] Component Contents/Frameworks/Kit.framework: removed: "
                      "framework\n"));
}

TEST_F(CompareTest, ADifferentSignerIsHighAndARuntimeGainedIsLow) {
    ComponentApp adhoc = firstVersion();
    adhoc.signing = Signing::adhoc;
    adhoc.hardenedRuntime = false;
    const QJsonObject before = inspected(adhoc, "adhoc");
    const std::vector<Change> changes = compareItems(before, first());
    const QStringList got = rows(changes);
    ASSERT_GE(got.size(), 3);
    EXPECT_EQ(got[0], "high teamIdentifier [] {}  -> TEAM123456");
    EXPECT_EQ(got[1], "high signer [] {} ad hoc -> a certificate that isn't trusted");
    EXPECT_EQ(got[2],
              "high designatedRequirement [] {} cdhash H\"…\" -> identifier "
              "\"com.example.varko.host\" and certificate root = H\"…\"");
    EXPECT_TRUE(got.contains("low hardenedRuntime [] {} no -> yes"))
        << got.join('\n').toStdString();
}

TEST_F(CompareTest, ACodeByteAndASealedFileChangedAreHighChanges) {
    // The same app with one byte of its helper's code and one byte of a sealed file changed:
    // nothing that the code's own claims say differs.
    const QJsonObject tampered = inspected(firstVersion(), "tampered", [](const fs::path& app) {
        for (const auto& [file, offset] :
             {std::pair{"Contents/MacOS/tool", 4096 - 9}, {"Contents/Info.plist", 60}}) {
            std::fstream f(app / file, std::ios::in | std::ios::out | std::ios::binary);
            f.seekg(offset);
            const char was = char(f.get());
            f.seekp(offset);
            f.put(was == ' ' ? '\t' : ' ');
        }
    });
    const QStringList got = rows(compareItems(first(), tampered));
    const QString tool = QStringLiteral("Contents/MacOS/tool");
    ASSERT_FALSE(got.isEmpty());
    EXPECT_TRUE(got[0].startsWith("high ")) << got.join('\n').toStdString();
    // The test authority is no trusted root: the pieces were never valid, but as signed.
    EXPECT_TRUE(got.contains("high valid [] {" + tool +
                             "} invalid (CSSMERR_TP_NOT_TRUSTED) -> invalid (invalid signature: "
                             "page 0 of the code does not match its hash)"))
        << got.join('\n').toStdString();
    EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const QString& r) {
        return r.startsWith("high sealed [] {} yes -> no");
    })) << got.join('\n').toStdString();
    EXPECT_NE(comparisonText(compareItems(first(), tampered)), "No changes.\n");
    // Scripts read the kind of each piece's reason.
    const auto errorCode = [&](const QJsonObject& item) {
        for (const QJsonValue c : item["components"].toArray())
            if (c["path"] == tool) return c["errorCode"].toString();
        return QStringLiteral("<no such piece>");
    };
    EXPECT_EQ(errorCode(first()), "untrusted");
    EXPECT_EQ(errorCode(tampered), "invalidSignature");
}

/// `item` with `edit` applied to the object under `key`.
template <class Edit>
QJsonObject edited(QJsonObject item, const char* key, Edit edit) {
    QJsonObject inner = item.value(key).toObject();
    edit(inner);
    item[key] = inner;
    return item;
}

TEST_F(CompareTest, AVerdictLeavingAcceptedIsHighAndAnyOtherChangeMedium) {
    const auto withState = [](const char* state) {
        return edited(first(), "verdict", [state](QJsonObject& v) { v["state"] = state; });
    };
    EXPECT_EQ(rows(compareItems(withState("accepted"), withState("rejected"))),
              QStringList{"high verdict [] {} accepted -> rejected"});
    EXPECT_EQ(rows(compareItems(withState("accepted"), withState("unknown"))),
              QStringList{"high verdict [] {} accepted -> unknown"});
    EXPECT_EQ(rows(compareItems(withState("rejected"), withState("accepted"))),
              QStringList{"medium verdict [] {} rejected -> accepted"});
}

TEST_F(CompareTest, WithoutTheComponentsTextsTheReportsLinesAndServicesServe) {
    // Output of a varko-report that did not yet give components their texts.
    const auto older = [](QJsonObject item) {
        QJsonArray components = item.value("components").toArray();
        for (qsizetype i = 0; i < components.size(); ++i) {
            QJsonObject c = components[i].toObject();
            c.remove("usageDescriptions");
            c.remove("entitlements");
            c.remove("allowances");
            components[i] = c;
        }
        item["components"] = components;
        return item;
    };
    EXPECT_TRUE(compareItems(older(first()), older(first())).empty());

    QJsonObject changed = first();
    changed["usageStrings"] = "NSCameraUsageDescription : Scans faces.\n";
    changed["privacyServices"] =
        QJsonArray{QJsonObject{{"service", "kTCCServiceCamera"},
                               {"entitlements", QJsonArray{"com.apple.security.device.camera"}},
                               {"allowances", QJsonArray{"com.apple.private.tcc.allow"}}}};
    const QStringList got = rows(compareItems(older(first()), older(changed)));
    EXPECT_EQ(got, (QStringList{
                       "medium usageKey [NSCameraUsageDescription] {} Scans codes. -> Scans faces.",
                       "medium usageKey [NSMicrophoneUsageDescription] {} Records notes. -> ",
                       "medium entitlement [com.apple.security.device.audio-input] {} granted -> ",
                       "medium allowance [kTCCServiceCamera] {}  -> allowed",
                   }))
        << got.join('\n').toStdString();
}

TEST_F(CompareTest, HostileTextsStayOnTheirLineAndJunkObjectsCompareAsEmpty) {
    // The first version with its main executable's usage descriptions replaced.
    const auto withUsage = [](const char* key, const char* text) {
        QJsonObject item = first();
        QJsonArray components = item.value("components").toArray();
        QJsonObject main = components[0].toObject();
        QJsonObject usage = main.value("usageDescriptions").toObject();
        usage[key] = text;
        main["usageDescriptions"] = usage;
        components[0] = main;
        item["components"] = components;
        return item;
    };
    const std::vector<Change> changes = compareItems(
        first(), withUsage("NSEvil\nUsageDescription", "line one\n[high] Team ID: forged\x1b[31m"));
    ASSERT_EQ(changes.size(), 1U);
    EXPECT_EQ(changes[0].key, "NSEvil\nUsageDescription");  // the JSON keeps the text as it is
    const QString text = comparisonText(changes);
    EXPECT_EQ(text.count('\n'), 1) << text.toStdString();
    EXPECT_FALSE(text.contains(QChar(0x1b)));
    EXPECT_TRUE(text.startsWith("[medium] Usage description NSEvil"));

    // An empty text is still there, and its rewording a change.
    EXPECT_EQ(rows(compareItems(first(), withUsage("NSBlankUsageDescription", ""))),
              QStringList{"medium usageKey [NSBlankUsageDescription] {}  -> (empty)"});

    QJsonObject junk{{"verdict", QJsonArray{1, 2}},
                     {"components", QJsonObject{{"path", 3}}},
                     {"usageStrings", QJsonArray{}},
                     {"privacyServices", "x"}};
    EXPECT_TRUE(compareItems(junk, QJsonObject{}).empty());
    const std::vector<Change> all = compareItems(QJsonObject{}, first());
    EXPECT_FALSE(all.empty());
    EXPECT_EQ(all.front().what, "teamIdentifier");
}

TEST_F(CompareTest, TheJsonHasBothItemsAndEachChangesKeys) {
    const QJsonObject other = edited(first(), "verdict", [](QJsonObject& v) { v["signer"] = "X"; });
    const QJsonObject o = comparisonJson(first(), other, compareItems(first(), other));
    EXPECT_EQ(o.value("old").toObject(), first());
    EXPECT_EQ(o.value("new").toObject(), other);
    const QJsonArray changes = o.value("changes").toArray();
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0].toObject(), (QJsonObject{{"what", "signer"},
                                                  {"key", ""},
                                                  {"old", "a certificate that isn't trusted"},
                                                  {"new", "X"},
                                                  {"component", ""},
                                                  {"severity", "high"}}));
}

}  // namespace
}  // namespace varko::compare
