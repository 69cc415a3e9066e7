// varko-report --pppc: privacy profiles for MDM, read back as property lists and checked
// against the facts of Apple's device-management schema (data/pppc-schema.yaml).
#include <QFile>
#include <QProcess>
#include <map>

#include "cli/clitest.h"
#include "fixtures/componentbundle.h"
#include "format/plist/plist.h"
#include "overview/datafile.h"

namespace {

using namespace varko::examplegen;
using varko::testing::ProgramRun;
using varko::testing::readFile;
namespace plist = varko::plist;

/// Runs the schema checker on the profile at `file`; its complaints, empty when none.
std::string schemaProblems(const QString& file) {
    QProcess p;
    p.start("python3", {VARKO_SOURCE_DIR "/tests/cli/checkprofile.py",
                        VARKO_TEST_DATA "/pppc-schema.yaml", file});
    if (!p.waitForFinished(60000)) return "checkprofile.py did not finish";
    if (p.exitCode() == 0) return {};
    return (p.readAllStandardOutput() + p.readAllStandardError()).toStdString() + "(exit " +
           std::to_string(p.exitCode()) + ")";
}

/// The designated requirement that varko-codesign -d -r- prints for the app.
std::string designatedOf(const QString& app) {
    const ProgramRun r = varko::testing::runTool("varko-codesign", {"-d", "-r-", app});
    const QString out = QString::fromUtf8(r.out);
    const qsizetype at = out.indexOf("designated => ");
    return at < 0 ? std::string() : out.mid(at + 14).section('\n', 0, 0).toStdString();
}

const std::string* text(const plist::Dictionary& d, std::string_view key) {
    const plist::Value* v = d.find(key);
    return v ? v->string() : nullptr;
}

TEST(PrivacyProfileTest, ProfilesFollowTheSchemaAndThePayloadsRules) {
    QTemporaryDir dir;
    const TestPki pki;
    plist::Dictionary events;
    events.set("com.apple.security.automation.apple-events", true);
    events.set("com.apple.security.temporary-exception.apple-events",
               plist::Array{"com.apple.finder", "com.example.editor"});
    plist::Dictionary targets;
    targets.set("com.apple.mail", plist::Array{"com.apple.mail.compose"});
    events.set("com.apple.security.scripting-targets", targets);
    plist::Dictionary allowance;
    allowance.set("com.apple.private.tcc.allow", plist::Array{"kTCCServiceListenEvent"});

    const std::map<QByteArray, std::optional<std::string>> entitlements{
        {"", std::nullopt},
        {"allowance", plist::writeXml(allowance)},
        {"events", plist::writeXml(events)}};
    const std::map<QByteArray, Signing> signings{{"developerId", Signing::developerId},
                                                 {"adhoc", Signing::adhoc},
                                                 {"unsignedCode", Signing::unsignedCode}};
    /// "a=x,y; b=z" as {a: [x, y], b: [z]}.
    const auto pairs = [](const QByteArray& field) {
        std::map<std::string, std::vector<std::string>> out;
        for (const QByteArray& pair : field.split(';')) {
            const QList<QByteArray> kv = pair.trimmed().split('=');
            if (kv.size() == 2)
                for (const QByteArray& value : kv[1].split(','))
                    out[kv[0].toStdString()].push_back(value.toStdString());
        }
        return out;
    };
    using Grants = std::map<std::string, std::vector<std::string>>;
    for (const auto& row : varko::testing::dataCases("pppc-cases.txt")) {
        const struct {
            const char* name;
            Grants info;
            std::optional<std::string> entitlements;
            Signing signing;
            Grants grants;  ///< each service's Authorization per entry; empty: refused
            const char* said;
        } c{row[0].constData(),  pairs(row[1]), entitlements.at(row[2]),
            signings.at(row[3]), pairs(row[4]), row[5].constData()};
        SCOPED_TRACE(c.name);
        ComponentApp description;
        description.name = c.name;
        description.signing = c.signing;
        description.entitlements = c.entitlements;
        for (const auto& [key, value] : c.info) description.info.set(key, value[0]);
        const QString path = varko::testing::writeApp(dir.path(), description, pki);
        ASSERT_FALSE(path.isEmpty());
        const QString file = dir.filePath(QString(c.name) + ".mobileconfig");

        QStringList args{"--pppc", path, "-o", file};
        // One receiver named by its app, whose own requirement it gets; the others by the
        // entitlements alone.
        std::string editorRequirement;
        if (c.grants.contains("AppleEvents")) {
            ComponentApp editor;
            editor.name = "Editor";
            editor.identifier = "com.example.editor";
            args << "--receiver" << varko::testing::writeApp(dir.path(), editor, pki);
            editorRequirement = designatedOf(args.last());
            ASSERT_TRUE(editorRequirement.starts_with("identifier \"com.example.editor\" and "));
        }
        const ProgramRun r = varko::testing::varkoReport(args);
        EXPECT_TRUE(r.err.contains(c.said)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        if (c.grants.empty()) {
            EXPECT_EQ(r.status, 2);
            EXPECT_FALSE(QFile::exists(file));
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(schemaProblems(file), "");

        const QByteArray bytes = readFile(file);
        const auto read = plist::parseXml(std::as_bytes(std::span(bytes.data(), bytes.size())));
        ASSERT_TRUE(read && read->dictionary());
        const plist::Value* content = read->dictionary()->find("PayloadContent");
        ASSERT_TRUE(content && content->array() && content->array()->size() == 1);
        const plist::Value* services = (*content->array())[0].dictionary()->find("Services");
        ASSERT_TRUE(services && services->dictionary());
        Grants grants;
        std::vector<std::string> receivers;
        const std::string designated = designatedOf(path);
        for (const auto& [service, entries] : *services->dictionary()) {
            for (const plist::Value& entry : *entries.array()) {
                const plist::Dictionary& e = *entry.dictionary();
                grants[service].push_back(*text(e, "Authorization"));
                EXPECT_EQ(*text(e, "Identifier"), "com.example.varko.host");
                EXPECT_EQ(*text(e, "CodeRequirement"), designated);
                if (const std::string* receiver = text(e, "AEReceiverIdentifier")) {
                    receivers.push_back(*receiver);
                    EXPECT_EQ(*text(e, "AEReceiverCodeRequirement"),
                              *receiver == "com.example.editor"
                                  ? editorRequirement
                                  : "identifier \"" + *receiver + "\"");
                }
            }
        }
        EXPECT_EQ(grants, c.grants);
        if (c.grants.contains("AppleEvents")) {
            EXPECT_EQ(receivers, (std::vector<std::string>{"com.example.editor", "com.apple.finder",
                                                           "com.apple.mail"}));
        }
        EXPECT_EQ(designated.starts_with("cdhash H\""), c.signing == Signing::adhoc) << designated;
    }
}

}  // namespace
