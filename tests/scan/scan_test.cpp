// Finding every app and package under folders, and what one line of a scan says of each.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <map>
#include <mutex>

#include <sys/stat.h>

#include "fixtures/componentbundle.h"
#include "fixtures/xarwriter.h"
#include "inspection/itemtype.h"
#include "overview/overviewjson.h"
#include "scan/scan.h"
#include "support/files.h"
#include "support/unprivileged.h"

namespace varko::scan {
namespace {

namespace fs = std::filesystem;
using namespace examplegen;

void makeFolder(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(path)) << path.toStdString();
}

void makeFile(const QString& path, const QByteArray& content = "not really a package") {
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(varko::testing::writeFile(path, content)) << path.toStdString();
}

/// The item at `path` inspected as varko-report and a scan inspect it, with `tools`.
Inspection inspected(const QString& path, const host::ToolSet& tools) {
    Inspection item;
    item.path = path;
    item.typeName = itemTypeForPath(path).typeName;
    inspect(item, tools, true);
    return item;
}

void makeLink(const QString& target, const QString& link) {
    ASSERT_TRUE(QFile::link(target, link)) << link.toStdString();
}

std::string lines(const QStringList& list) {
    return list.join('\n').toStdString();
}

/// A walk's one cut, as "kind at folder".
std::string onlyCut(const Found& f) {
    if (f.cuts.size() != 1) return std::to_string(f.cuts.size()) + " cuts";
    return cutName(f.cuts[0].kind) + (" at " + f.cuts[0].folder.toStdString());
}

class FindItems : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString root = dir.filePath("Applications");
    QString outside = dir.filePath("Elsewhere");
    QString at(const QString& name) const { return root + "/" + name; }

    void SetUp() override {
        makeFolder(at("One.app/Contents/MacOS"));
        // A bundle's insides are its components, never more items.
        makeFolder(at("One.app/Contents/Library/LoginItems/Inner.app"));
        makeFile(at("One.app/Contents/Resources/Bundled.pkg"));
        makeFolder(at("Utilities/Deep/Two.APP"));
        makeFile(at("Installer.pkg"));
        makeFolder(at("Old.pkg/Contents/Inside.app"));  // a bundle package, a folder
        makeFile(at("notes.txt"));
        makeFolder(at("Folder.app.d"));
        // Links are not followed: not back into the folder, nor out of it.
        makeFolder(outside + "/Stranger.app");
        makeLink(root, at("Utilities/loop"));
        makeLink(outside, at("Utilities/out"));
        makeLink(outside + "/Stranger.app", at("Linked.app"));
        makeLink(at("gone"), at("Dangling.app"));
    }
};

TEST_F(FindItems, ListsEveryBundleOnceWithoutGoingInsideOrFollowingLinks) {
    const Found found = findItems({root});
    EXPECT_EQ(lines(found.items), lines({at("Installer.pkg"), at("Old.pkg"), at("One.app"),
                                         at("Utilities/Deep/Two.APP")}));
    EXPECT_TRUE(found.problems.isEmpty()) << found.problems.join('\n').toStdString();
    EXPECT_FALSE(found.cut());

    // A folder named on the command line may itself be a link; naming a folder twice, or
    // one inside another, lists nothing twice; a bundle named is an item of its own.
    const QString viaLink = dir.filePath("shortcut");
    makeLink(root, viaLink);
    const Found again = findItems({viaLink, root, at("Utilities"), outside + "/Stranger.app",
                                   dir.filePath("missing"), at("notes.txt")});
    EXPECT_EQ(lines(again.items),
              lines({outside + "/Stranger.app", viaLink + "/Installer.pkg", viaLink + "/Old.pkg",
                     viaLink + "/One.app", viaLink + "/Utilities/Deep/Two.APP"}));
    ASSERT_EQ(again.problems.size(), 2) << again.problems.join('\n').toStdString();
    EXPECT_TRUE(again.problems[0].startsWith(dir.filePath("missing") + ": "));
    EXPECT_EQ(again.problems[1], at("notes.txt") + ": not a folder");
}

TEST_F(FindItems, ACalledOffWalkEndsAtItsNextEntry) {
    std::atomic<bool> cancel = false;
    FindOptions options;
    options.cancel = &cancel;
    options.beforeEntering = [&](const QString&) { cancel = true; };
    // The first subfolder's entries are never read: only what the top listed directly.
    const Found found = findItems({root}, options);
    EXPECT_FALSE(found.items.contains(at("Utilities/Deep/Two.APP")));
    EXPECT_LT(found.items.size(), 4);
}

TEST_F(FindItems, AFolderThatCantBeReadIsAProblemAndTheWalkGoesOn) {
    makeFolder(at("Locked/Hidden.app"));
    testsupport::openUpTo(root.toStdString());
    ASSERT_EQ(::chmod(QFile::encodeName(at("Locked")).constData(), 0), 0);
    // Permissions bind only a user without root's powers: the walk runs as one.
    const auto seen = testsupport::asUnprivileged([&] {
        const Found found = findItems({root});
        return QString::number(found.items.size()).toStdString() + "\n" +
               (found.items.contains(at("Locked/Hidden.app")) ? "hidden listed\n" : "") +
               found.problems.join('\n').toStdString();
    });
    ::chmod(QFile::encodeName(at("Locked")).constData(), 0755);
    ASSERT_TRUE(seen);
    EXPECT_EQ(*seen, "4\n" + (at("Locked") + ": Permission denied").toStdString());
}

TEST_F(FindItems, ALinkSwappedInJustBeforeTheWalkEntersIsNotFollowed) {
    // Lures: what a followed link would list.
    makeFolder(outside + "/B/Lured.app");
    makeFolder(at("Utilities/Deep/B"));
    makeFolder(at("Swapped"));
    FindOptions options;
    options.beforeEntering = [&](const QString& folder) {
        // The parent of the folder about to be opened, already read, becomes a link; and a
        // folder listed becomes one before it is opened.
        if (folder == at("Utilities/Deep/B")) {
            ASSERT_TRUE(QDir().rename(at("Utilities/Deep"), dir.filePath("Moved")));
            makeLink(outside, at("Utilities/Deep"));
        } else if (folder == at("Swapped")) {
            ASSERT_TRUE(QDir(at("Swapped")).removeRecursively());
            makeLink(outside + "/B", at("Swapped"));
        }
    };
    const Found found = findItems({root}, options);
    EXPECT_EQ(lines(found.items), lines({at("Installer.pkg"), at("Old.pkg"), at("One.app"),
                                         at("Utilities/Deep/Two.APP")}));
    EXPECT_TRUE(found.problems.isEmpty()) << found.problems.join('\n').toStdString();
}

TEST(FindItemsBounds, EachBoundSaysWhichItIsAndWhere) {
    QTemporaryDir dir;
    QString deepest = dir.path(), firstNotEntered;
    for (int depth = 1; depth <= maxDepth + 2; ++depth) {
        deepest += "/d";
        if (depth == maxDepth - 2) makeFolder(deepest + "/Shallow.app");
        if (depth == maxDepth) firstNotEntered = deepest;
    }
    makeFolder(deepest + "/Deep.app");
    const QString sibling = firstNotEntered.chopped(2) + "/e";  // a second folder too deep
    makeFolder(sibling);
    const Found deep = findItems({dir.path()});
    ASSERT_EQ(deep.items.size(), 1);
    EXPECT_TRUE(deep.items[0].endsWith("/Shallow.app"));
    EXPECT_TRUE(onlyCut(deep) == "depth at " + firstNotEntered.toStdString() ||
                onlyCut(deep) == "depth at " + sibling.toStdString())
        << onlyCut(deep);
    EXPECT_EQ(deep.cuts[0].limit, std::size_t(maxDepth));
    EXPECT_EQ(deep.cuts[0].times, 2U);
    EXPECT_EQ(cutJson(deep.cuts[0])["cut"].toObject()["kind"].toString(), "depth");
    EXPECT_TRUE(cutText(deep.cuts[0]).contains("no deeper than 32 folders"));

    // The others, with bounds made small; each walk ends or goes on as its bound says.
    QTemporaryDir small;
    const QString in = small.filePath("In");
    for (const char* name : {"A.app", "B.app", "C.app", "D.pkg"}) makeFolder(in + "/" + name);
    const auto cutOf = [&](WalkLimits limits, const QStringList& folders) {
        FindOptions options;
        options.limits = limits;
        return findItems(folders, options);
    };
    const QStringList missing{small.filePath("x"), small.filePath("y"), small.filePath("z"), in};
    const std::string at = " at " + in.toStdString();
    const struct {
        WalkLimits limits;
        QStringList folders;
        qsizetype items, problems;  ///< listed before the bound or despite it
        std::string cut;
        std::size_t times;
    } bounds[] = {
        {{.items = 2}, {small.path()}, 2, 0, "items" + at, 1},
        {{.entries = 3}, {small.path()}, 2, 0, "entries" + at, 1},  // In is the first entry
        {{.problems = 1}, missing, 4, 1, "problems at " + small.filePath("y").toStdString(), 2},
    };
    for (const auto& b : bounds) {
        const Found found = cutOf(b.limits, b.folders);
        ASSERT_EQ(onlyCut(found), b.cut);
        SCOPED_TRACE(b.cut);
        EXPECT_EQ(found.items.size(), b.items);
        EXPECT_EQ(found.problems.size(), b.problems);
        EXPECT_EQ(found.cuts[0].times, b.times);
    }
}

/// An app that uses services by itself and through its components, signed by the test CA.
ComponentApp serviceApp() {
    ComponentApp app;
    app.name = "Viewer";
    app.identifier = "com.example.varko.viewer";
    app.version = "2.5";
    app.info.set("NSCameraUsageDescription", "Scan documents.");
    app.entitlements = entitlementsGranting({"com.apple.security.device.camera"});
    Piece xpc = pieceAt(PieceKind::xpcService, "Contents/XPCServices/Recorder.xpc");
    xpc.entitlements = entitlementsGranting({"com.apple.security.device.audio-input"});
    app.pieces.push_back(xpc);
    Piece helper = pieceAt(PieceKind::helper, "Contents/MacOS/contacts-helper");
    helper.entitlements =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
        "<key>com.apple.private.tcc.allow</key><array>"
        "<string>kTCCServiceAddressBook</string></array></dict></plist>";
    app.pieces.push_back(helper);
    return app;
}

class ScanApps : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const host::ToolSet tools = host::ToolSet::system(QStringLiteral(VARKO_BIN_DIR));
    // Programs that can't be started: a run would show as a tool that gave no answer.
    const host::ToolSet none = host::ToolSet::withPrograms({{host::codesignPath, "/nonexistent/cs"},
                                                            {host::spctlPath, "/nonexistent/sp"},
                                                            {host::pkgutilPath, "/nonexistent/pk"}})
                                   .withProfile(tools.profile());

    /// Each item's answer to a scan of `items`, by its place in the list.
    static std::map<std::size_t, ItemSummary> scanned(const QStringList& items,
                                                      const host::ToolSet& tools) {
        std::mutex lock;
        std::map<std::size_t, ItemSummary> answers;
        scanItems(items, tools, {}, 2, [&](std::size_t index, ItemSummary s) {
            const std::lock_guard guard(lock);
            EXPECT_FALSE(answers.contains(index)) << "a second answer for " << index;
            answers[index] = std::move(s);
        });
        return answers;
    }
    QString writeApp(const ComponentApp& app) {
        const auto written =
            writeComponentApp(fs::path(dir.path().toStdString()), app, sharedPki());
        EXPECT_TRUE(written) << written.error().message;
        return written ? QString::fromStdString(written->string()) : QString();
    }
};

TEST_F(ScanApps, ASummaryMarksWhatTheAppAndItsComponentsMayUse) {
    const Inspection item = inspected(writeApp(serviceApp()), tools);
    const ItemSummary s = summarize(item);
    EXPECT_FALSE(s.unreadable) << s.problem.toStdString();
    // The test authority is not Apple's: the real tools reject it.
    EXPECT_EQ(QStringList(
                  {s.name, s.identifier, s.version, s.teamIdentifier, s.hardenedRuntime, s.verdict})
                  .join(' '),
              "Viewer.app com.example.varko.viewer 2.5 TEAM123456 yes rejected");
    EXPECT_FALSE(s.signer.isEmpty());
    EXPECT_EQ(s.json, inspectionJson(item));

    // Declared, entitled, allowed: the microphone by the XPC service, contacts by the helper.
    EXPECT_EQ(summaryLine(s).replace(item.path, "APP").toStdString(),
              "APP  version 2.5  id com.example.varko.viewer  rejected (CSSMERR_TP_NOT_TRUSTED)  "
              "signed by a certificate that isn't trusted, team TEAM123456  hardened yes  may use "
              "Contacts (allowed), Microphone (entitled), Camera (declared, entitled)");
}

TEST_F(ScanApps, EveryItemAnswersOnceAndWhatCantBeReadSaysWhy) {
    const QString app = writeApp(serviceApp());
    ComponentApp second = serviceApp();
    second.name = "Second";
    const QString other = writeApp(second);
    const QString fifo = dir.filePath("Pipe.pkg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    const QStringList items = {app, fifo, dir.filePath("Gone.app"), other};

    std::map<std::size_t, ItemSummary> answers = scanned(items, tools);
    ASSERT_EQ(answers.size(), 4U);
    EXPECT_FALSE(answers[0].unreadable);
    EXPECT_EQ(answers[3].identifier, "com.example.varko.viewer");
    for (std::size_t i : {1, 2}) {
        EXPECT_TRUE(answers[i].unreadable) << i;
        EXPECT_FALSE(answers[i].problem.isEmpty());
        // Scripts read the kind: a FIFO is no package, a gone app is missing.
        EXPECT_EQ(answers[i].json.value("error").toObject().value("code").toString(),
                  i == 2 ? QStringLiteral("missing") : QStringLiteral("unsupported"));
        EXPECT_TRUE(summaryLine(answers[i]).startsWith(items[int(i)] + " — could not be read: "));
    }

    // Raised before the start, nothing is inspected.
    const auto cancel = std::make_shared<std::atomic<bool>>(true);
    std::size_t after = 0;
    scanItems(items, tools, {nullptr, cancel}, 2, [&](std::size_t, ItemSummary) { ++after; });
    EXPECT_EQ(after, 0U);
    // Called off at the first answer: no other item is started, and one being inspected then
    // may answer only if it finished first.
    const auto off = std::make_shared<std::atomic<bool>>(false);
    std::atomic<std::size_t> answered{0};
    scanItems({app, other, app, other, app, other}, tools, {nullptr, off}, 2,
              [&](std::size_t, ItemSummary) {
                  ++answered;
                  off->store(true);
              });
    EXPECT_LE(answered, 2U);
}

TEST_F(ScanApps, AnAppWithoutCodeIsToldAsItsToolsWouldTellItWithoutStartingThem) {
    const QString empty = dir.filePath("Empty.app");
    makeFolder(empty);
    const QString gone = dir.filePath("Gone.app");
    makeFolder(gone + "/Contents/MacOS");
    makeFile(gone + "/Contents/Info.plist",
             "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
             "<string>Gone</string></dict></plist>");
    for (const QString& path : {empty, gone}) {
        SCOPED_TRACE(path.toStdString());
        const Inspection item = inspected(path, none);
        EXPECT_TRUE(item.noCode);
        EXPECT_FALSE(item.toolFailed());
        const SignatureTexts told = runSignatureTools(tools, true, item.report.path);
        EXPECT_EQ(item.signature.assessmentText, told.assessmentText);
        EXPECT_EQ(item.signature.signatureText, told.signatureText);
        for (int c = 0; c < checkCount; ++c)
            EXPECT_EQ(item.findings.get(Check(c)), told.findings.get(Check(c))) << c;
        EXPECT_EQ(item.document.theInfo->entitleList, "Failed, error = 1");
        const bool online = tools.profile().assessesOnline;
        EXPECT_EQ(overview::verdictJson(item.verdict),
                  overview::verdictJson(
                      overview::judge(true, &*item.overview, told.gatekeeper, {online, online})));
        const ItemSummary s = summarize(item);
        EXPECT_TRUE(s.unreadable);
        EXPECT_TRUE(s.problem.startsWith("it holds no code: ")) << s.problem.toStdString();
    }
    // An app with code still has its tools run.
    const Inspection withCode = inspected(writeApp(serviceApp()), none);
    EXPECT_FALSE(withCode.noCode);
    EXPECT_TRUE(withCode.toolFailed());
}

#if !defined(__APPLE__)  // where a scan runs Apple's tools

TEST_F(ScanApps, AScanAnswersInProcessWordForWordAsTheToolsDo) {
    // Signed by the test authority, ad hoc, unsigned, tampered after signing; packages signed,
    // unsigned and none at all.
    ComponentApp adhoc = serviceApp(), bare = serviceApp(), tampered = serviceApp();
    adhoc.name = "AdHoc";
    bare.name = "Bare";
    adhoc.signing = Signing::adhoc;
    bare.signing = Signing::unsignedCode;
    for (Piece& piece : adhoc.pieces) piece.signing = Signing::adhoc;
    for (Piece& piece : bare.pieces) piece.signing = Signing::unsignedCode;
    tampered.name = "Tampered";
    tampered.afterSigning = {{"Contents/MacOS/Tampered", std::string(5000, 'x')},
                             {"Contents/Resources/added.txt", "outside the seal"}};
    QStringList items;
    for (const ComponentApp& app : {serviceApp(), adhoc, bare, tampered}) items << writeApp(app);
    const fs::path folder(dir.path().toStdString());
    const TestPki& pki = sharedPki();
    const XarSigning rsa{&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}, false, {}, 0};
    const std::pair<const char*, std::vector<std::byte>> packages[] = {
        {"Signed.pkg", makeXar("<file id=\"1\"/>", rsa)},
        {"Unsigned.pkg", makeXar("<file id=\"1\"/>", std::nullopt)},
        {"Noise.pkg", std::vector<std::byte>(300, std::byte{0x5a})}};
    for (const auto& [name, bytes] : packages) {
        ASSERT_TRUE(writeFile(folder / name, bytes));
        items << dir.filePath(name);
    }

    // With tools that can't be started: a scan must not need them.
    const std::map<std::size_t, ItemSummary> answers = scanned(items, none);
    ASSERT_EQ(answers.size(), std::size_t(items.size()));
    QStringList verdicts;
    for (qsizetype i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].toStdString());
        const ItemSummary run = summarize(inspected(items[i], tools));
        const ItemSummary& own = answers.at(std::size_t(i));
        EXPECT_FALSE(run.toolFailed);
        // The whole object holds the tools' texts, the report, the verdict and components.
        EXPECT_EQ(own.json, run.json);
        EXPECT_EQ(summaryLine(own), summaryLine(run));
        EXPECT_EQ(own.toolFailed, run.toolFailed);
        EXPECT_EQ(own.checksCut, run.checksCut);
        verdicts << run.verdict + " " + run.verdictReason;
    }
    // Each case is told apart, so that the comparison compared answers of every kind.
    verdicts.removeDuplicates();
    EXPECT_GE(verdicts.size(), 4) << lines(verdicts);
}

#endif

TEST(SummaryLine, NamesAnItemControlsStayOnOneLine) {
    ItemSummary s;
    s.path = "/Applications/Evil\n/tmp/Fake.app";
    s.identifier = "com.example\x1b[2Jx";
    s.version = "1\r2";
    s.signer = "Apple\nDeveloper";
    s.verdict = "accepted";
    s.hardenedRuntime = "yes";
    s.services.push_back({"kTCCService\nCamera", {}, {true, false, false}});
    const QString line = summaryLine(s);
    for (const QChar c : line) EXPECT_GE(c.unicode(), 0x20) << line.toStdString();
    EXPECT_TRUE(line.endsWith("may use unknown service kTCCService\u240ACamera (declared)"))
        << line.toStdString();
    // A stranger's thousand names make no thousand-name line.
    for (int i = 0; i < 1000; ++i) s.services.push_back({"kTCCServiceX", "Title", {true}});
    EXPECT_TRUE(summaryLine(s).endsWith(", Title (declared), and 971 more"));
    s.unreadable = true;
    s.problem = "bad\nworse";
    EXPECT_FALSE(summaryLine(s).contains('\n'));
}

}  // namespace
}  // namespace varko::scan
