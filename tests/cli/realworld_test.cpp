// The stand-ins on real signed files from the npm registry, fetched and pinned by
// scripts/fetch-fixtures.sh into the build folder. Real files decide every format fact, and
// sigreader.py, a second reader written apart from ours, decides every value shown.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

#include "format/plist/plist.h"
#include "support/programrun.h"

namespace {

const QString cache = QStringLiteral(VARKO_BIN_DIR "/../fixtures");
// The data folder need not exist, so paths are resolved by text, not by the kernel.
const QString fetchScript = QDir::cleanPath(VARKO_TEST_DATA "/../../../scripts/fetch-fixtures.sh");
const QString readerScript = QDir::cleanPath(VARKO_TEST_DATA "/../sigreader.py");

struct ToolResult {
    int status = -1;
    QByteArray out;
    QString err;
};

ToolResult run(const QString& program, const QStringList& arguments) {
    const auto r = varko::testing::runTool(program, arguments, 180000);
    return {r.status, r.out, QString::fromUtf8(r.err)};
}

/// The independent reading of a file: one object per slice, in the file's order.
QJsonArray readSignature(const QString& path) {
    // Debian's interpreter, beside which the set-up installs the cryptography module.
    const auto r = run("/usr/bin/python3", {readerScript, path});
    EXPECT_EQ(r.status, 0) << "sigreader.py " << path.toStdString() << ": " << r.err.toStdString();
    return QJsonDocument::fromJson(r.out).object()["slices"].toArray();
}

/// The same for a pristine fixture; each read of a large file costs a second.
const QJsonArray& slicesOf(const QString& path) {
    static QHash<QString, QJsonArray> read;
    if (!read.contains(path)) read.insert(path, readSignature(path));
    return read[path];
}

/// How codesign shows an instant, as it is in UTC.
QString codesignDate(const QString& iso) {
    return QLocale::c().toString(QDateTime::fromString(iso, Qt::ISODate).toUTC(),
                                 "MMM d, yyyy 'at' h:mm:ss AP");
}

std::string text(const QJsonValue& v) {
    return v.toString().toStdString();
}

QString firstLine(const QString& text) {
    return text.left(text.indexOf('\n'));
}

QString captured(const QString& text, const QString& pattern) {
    return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text).captured(1);
}

QStringList allCaptured(const QString& text, const QString& pattern) {
    QStringList found;
    for (const auto& m :
         QRegularExpression(pattern, QRegularExpression::MultilineOption).globalMatch(text))
        found << m.captured(1);
    return found;
}

bool flipByte(const QString& path, qint64 at) {
    QFile f(path);
    char c = 0;
    if (!f.open(QIODevice::ReadWrite) || !f.seek(at) || !f.getChar(&c) || !f.seek(at)) return false;
    return f.putChar(static_cast<char>(c ^ 0x01));
}

class RealWorldTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (fetched.status != 0) fetched = run("/bin/sh", {fetchScript, cache});
    }
    void SetUp() override {
        if (fetched.status == 2)
            GTEST_SKIP() << "the npm registry cannot be reached: " << fetched.err.toStdString();
        ASSERT_EQ(fetched.status, 0) << fetched.err.toStdString();
    }
    static QString file(const char* relative) { return cache + "/" + relative; }
    static ToolResult codesign(const QStringList& arguments) {
        return run(VARKO_BIN_DIR "/varko-codesign", arguments);
    }
    static ToolResult spctl(const QString& path) {
        return run(VARKO_BIN_DIR "/varko-spctl", {"-a", "-vv", path});
    }
    static inline ToolResult fetched;
};

// What Apple's own codesign showed for these files, word for word; "%1" is the file's path.
TEST_F(RealWorldTest, CodesignShowsWhatApplesCodesignShowed) {
    const struct {
        const char* path;
        const char* arch;  ///< empty: the slice a Mac runs
        int status;
        std::vector<const char*> lines;  ///< all of the output when the status is not 0
    } cases[] = {
        {"_sentry_cli-darwin_3.8.0/package/bin/sentry-cli",
         "x86_64",
         0,
         {"Identifier=sentry-cli-Darwin-universal\n", "Format=Mach-O universal (x86_64 arm64)\n",
          "flags=0x10000(runtime) hashes=3631+7 location=embedded\n",
          "CDHash=fcd45ae42c5190bdde8c0709168c2286074aadeb\n",
          "CMSDigest=fcd45ae42c5190bdde8c0709168c2286074aadeb7bed502819d422855c963b37\n",
          "Signature size=8970\n"
          "Authority=Developer ID Application: GetSentry LLC (97JCY7859U)\n"
          "Authority=Developer ID Certification Authority\n"
          "Authority=Apple Root CA\n"
          "Timestamp=Sep 16, 2026 at 2:16:56 PM\n",
          "TeamIdentifier=97JCY7859U\n", "Runtime Version=26.5.0\n"}},
        {"_sentry_cli-darwin_3.8.0/package/bin/sentry-cli",
         "arm64",
         0,
         {"Authority=Apple Root CA\n"}},
        {"_esbuild_darwin-arm64_0.28.2/package/bin/esbuild",
         "",
         0,
         {"Identifier=a.out\n", "Format=Mach-O thin (arm64)\n",
          "flags=0x20002(adhoc,linker-signed) hashes=2566+0",
          "CDHash=faf804ab3def337a0e99314b6092ef431c3d7ab5\n", "Signature=adhoc\n",
          "TeamIdentifier=not set\n", "Internal requirements=none\n"}},
        // Asking for a slice that is not there must not show another one instead.
        {"_esbuild_darwin-arm64_0.28.2/package/bin/esbuild",
         "x86_64",
         1,
         {"%1: the executable has no code for architecture x86_64\n"}},
        {"fsevents_2.3.3/package/fsevents.node",
         "x86_64",
         1,
         {"%1: code object is not signed at all\n"}},
        {"fsevents_2.3.3/package/fsevents.node",
         "arm64",
         0,
         {"Signature=adhoc\n", "Identifier=fsevents.node\n",
          "CDHash=8c4bc119d234ef99eb186d1f92dc1882732fda60\n",
          "Format=Mach-O universal (x86_64 arm64)\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.arch);
        const QString path = file(c.path);
        QStringList arguments{"-dvvv"};
        if (*c.arch) arguments << "-a" << c.arch;
        const auto r = codesign(arguments << path);
        ASSERT_EQ(r.status, c.status) << r.err.toStdString();
        for (const char* line : c.lines) {
            const QString expected = QString::fromUtf8(line).replace("%1", path);
            if (c.status == 0)
                EXPECT_TRUE(r.err.contains(expected)) << line << "\n" << r.err.toStdString();
            else
                EXPECT_EQ(r.err, expected);
        }
    }
}

// The other reader is only a witness if it is right: it must give the values above, which
// were read off Apple's own codesign, and must notice a changed byte where one matters.
TEST_F(RealWorldTest, TheIndependentReaderAgreesWithKnownValuesAndNoticesDamage) {
    const QJsonArray sentry = slicesOf(file("_sentry_cli-darwin_3.8.0/package/bin/sentry-cli"));
    ASSERT_EQ(sentry.size(), 2);
    const QJsonObject intel = sentry[0].toObject();
    EXPECT_EQ(text(intel["arch"]), "x86_64");
    EXPECT_EQ(text(sentry[1].toObject()["arch"]), "arm64");
    EXPECT_EQ(text(intel["identifier"]), "sentry-cli-Darwin-universal");
    EXPECT_EQ(text(intel["team_id"]), "97JCY7859U");
    EXPECT_EQ(text(intel["flags"]), "0x10000");
    EXPECT_EQ(text(intel["hashes"]), "3631+7");
    EXPECT_EQ(text(intel["cdhash"]), "fcd45ae42c5190bdde8c0709168c2286074aadeb");
    EXPECT_EQ(text(intel["code_directories"][0]["cdhash_full"]),
              "fcd45ae42c5190bdde8c0709168c2286074aadeb7bed502819d422855c963b37");
    EXPECT_EQ(intel["authorities"].toArray(),
              QJsonArray({"Developer ID Application: GetSentry LLC (97JCY7859U)",
                          "Developer ID Certification Authority", "Apple Root CA"}));
    EXPECT_EQ(codesignDate(intel["timestamp"].toString()).toStdString(),
              "Sep 16, 2026 at 2:16:56 PM");

    const QJsonObject esbuild =
        slicesOf(file("_esbuild_darwin-arm64_0.28.2/package/bin/esbuild"))[0].toObject();
    EXPECT_EQ(text(esbuild["identifier"]), "a.out");
    EXPECT_EQ(text(esbuild["flags"]), "0x20002");
    EXPECT_EQ(text(esbuild["hashes"]), "2566+0");
    EXPECT_EQ(text(esbuild["cdhash"]), "faf804ab3def337a0e99314b6092ef431c3d7ab5");
    EXPECT_TRUE(esbuild["adhoc"].toBool());

    const QString fsevents = file("fsevents_2.3.3/package/fsevents.node");
    const QJsonArray node = slicesOf(fsevents);
    ASSERT_EQ(node.size(), 2);
    EXPECT_FALSE(node[0]["signed"].toBool());
    EXPECT_EQ(text(node[1]["cdhash"]), "8c4bc119d234ef99eb186d1f92dc1882732fda60");

    QTemporaryDir dir;
    const QString copy = dir.filePath("fsevents.node");
    ASSERT_TRUE(QFile::copy(fsevents, copy));
    const QJsonValue arm = node[1];
    for (const qint64 at : {arm["code_page_at"].toInteger(),
                            arm["code_directories"][0]["page_hash_at"].toInteger()}) {
        ASSERT_TRUE(flipByte(copy, at));
        EXPECT_FALSE(readSignature(copy).at(1)["pages_match"].toBool()) << at;
        ASSERT_TRUE(flipByte(copy, at));
    }
    const QString signedCopy = dir.filePath("sentry-cli");
    ASSERT_TRUE(QFile::copy(file("_sentry_cli-darwin_3.8.0/package/bin/sentry-cli"), signedCopy));
    const qint64 identifierAt = intel["code_directories"][0]["identifier_at"].toInteger();
    for (const qint64 at : {identifierAt, intel["signature_at"].toInteger()}) {
        ASSERT_TRUE(flipByte(signedCopy, at));
        EXPECT_FALSE(readSignature(signedCopy).at(0)["cms_valid"].toBool()) << at;
        ASSERT_TRUE(flipByte(signedCopy, at));
    }
    EXPECT_TRUE(readSignature(signedCopy).at(0)["cms_valid"].toBool());
}

struct RealFile {
    const char* name;
    const char* path;  ///< under the fixture cache, in the folder the fetch script names
};

void PrintTo(const RealFile& f, std::ostream* os) {
    *os << f.name;
}

const RealFile realFiles[] = {
    {"SentryCli", "_sentry_cli-darwin_3.8.0/package/bin/sentry-cli"},
    {"Esbuild", "_esbuild_darwin-arm64_0.28.2/package/bin/esbuild"},
    {"Fsevents", "fsevents_2.3.3/package/fsevents.node"},
    {"Bun", "_oven_bun-darwin-x64_1.4.5/package/bin/bun"},
    {"Tsgo", "_typescript_native-preview-darwin-arm64_7.0.0-dev.20260707.2/package/lib/tsgo"},
    {"Clipboard",
     "_mariozechner_clipboard-darwin-universal_0.3.9/package/clipboard.darwin-universal.node"},
    {"Biome", "_biomejs_cli-darwin-arm64_2.6.9/package/biome"},
};

class RealFileTest : public RealWorldTest, public ::testing::WithParamInterface<RealFile> {
protected:
    QString path() const { return file(GetParam().path); }
};

/// Checks one slice's -dvvv text against the independent reading of that slice.
void expectDetails(const QString& err, const QJsonObject& s, const QString& format) {
    const auto expectLine = [&](const QString& line) {
        EXPECT_TRUE(err.contains("\n" + line + "\n")) << line.toStdString() << "\nin:\n"
                                                      << err.toStdString();
    };
    const QJsonArray directories = s["code_directories"].toArray();
    QJsonObject chosen;
    QStringList candidates, choices;
    for (const QJsonValue d : directories) {
        const QString type = d["hash_type"].toString();
        if (d["cdhash"] == s["cdhash"]) chosen = d.toObject();
        candidates << "CandidateCDHash " + type + "=" + d["cdhash"].toString()
                   << "CandidateCDHashFull " + type + "=" + d["cdhash_full"].toString();
        choices << type;
    }
    expectLine("Identifier=" + s["identifier"].toString());
    expectLine("Format=" + format);
    const auto cd = QRegularExpression(
                        "^CodeDirectory v=(\\S+) size=(\\d+) flags=(0x[0-9a-f]+)\\([a-z,-]*\\) "
                        "hashes=(\\d+\\+\\d+) location=embedded$",
                        QRegularExpression::MultilineOption)
                        .match(err);
    ASSERT_TRUE(cd.hasMatch()) << err.toStdString();
    EXPECT_EQ(cd.captured(1).toStdString(), text(s["version"]));
    EXPECT_EQ(cd.captured(2).toLongLong(), s["cd_size"].toInteger());
    EXPECT_EQ(cd.captured(3).toStdString(), text(s["flags"]));
    EXPECT_EQ(cd.captured(4).toStdString(), text(s["hashes"]));
    EXPECT_EQ(captured(err, "^Hash type=(\\S+) size=").toStdString(), text(s["hash_type"]));
    // One pair of candidate lines per code directory, between these two lines.
    const qsizetype from = err.indexOf("\nHash type="), to = err.indexOf("\nHash choices=");
    ASSERT_TRUE(from >= 0 && to > from) << err.toStdString();
    QStringList shown = err.mid(from + 1, to - from - 1).split('\n').mid(1);
    shown.sort();
    candidates.sort();
    EXPECT_EQ(shown.join('\n').toStdString(), candidates.join('\n').toStdString());
    expectLine("Hash choices=" + choices.join(','));
    expectLine("CMSDigest=" + chosen["cdhash_full"].toString());
    expectLine("CDHash=" + s["cdhash"].toString());

    const QStringList authorities = allCaptured(err, "^Authority=(.*)$");
    if (s["adhoc"].toBool()) {
        expectLine("Signature=adhoc");
        EXPECT_TRUE(authorities.isEmpty()) << err.toStdString();
        EXPECT_FALSE(err.contains("\nTimestamp=") || err.contains("\nSigned Time="))
            << err.toStdString();
    } else {
        QStringList expected;
        for (const QJsonValue a : s["authorities"].toArray()) expected << a.toString();
        EXPECT_EQ(authorities.join('\n').toStdString(), expected.join('\n').toStdString());
        // codesign names the timestamp authority's time when there is one, else the signer's clock.
        if (s["timestamp"].isString())
            expectLine("Timestamp=" + codesignDate(s["timestamp"].toString()));
        else
            expectLine("Signed Time=" + codesignDate(s["signing_time"].toString()));
    }
    expectLine("TeamIdentifier=" +
               (s["team_id"].isString() ? s["team_id"].toString() : QString("not set")));
    const QJsonObject requirements = s["requirements"].toObject();
    expectLine(requirements.isEmpty() ? QString("Internal requirements=none")
                                      : QString("Internal requirements count=%1 size=%2")
                                            .arg(requirements["count"].toInteger())
                                            .arg(requirements["size"].toInteger()));
}

TEST_P(RealFileTest, EverySliceShowsWhatTheIndependentReaderReads) {
    const QJsonArray slices = slicesOf(path());
    ASSERT_FALSE(slices.isEmpty());
    QStringList arches;
    for (const QJsonValue s : slices) arches << s["arch"].toString();
    const QString format = QString(slices.size() > 1 ? "Mach-O universal (%1)" : "Mach-O thin (%1)")
                               .arg(arches.join(' '));
    for (const QJsonValue v : slices) {
        const QJsonObject s = v.toObject();
        SCOPED_TRACE(s["arch"].toString().toStdString());
        const auto r = codesign({"-dvvv", "-a", s["arch"].toString(), path()});
        if (!s["signed"].toBool()) {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, path() + ": code object is not signed at all\n");
            continue;
        }
        // The files are as their signers made them; else the tools cannot be judged by them.
        EXPECT_TRUE(s["pages_match"].toBool());
        EXPECT_TRUE(s["adhoc"].toBool() || s["cms_valid"].toBool());
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        expectDetails(r.err, s, format);
    }
}

// With a DER form (that codesign writes beside the XML), the DER form is shown as XML; the
// real signers' two forms agree, so it reads as the XML blob does.
TEST_P(RealFileTest, EntitlementsAreTheXmlBlobOrTheDerFormAsXml) {
    for (const QJsonValue v : slicesOf(path())) {
        const QJsonObject s = v.toObject();
        SCOPED_TRACE(s["arch"].toString().toStdString());
        const auto r =
            codesign({"--display", "--entitlements", ":-", "-a", s["arch"].toString(), path()});
        if (!s["signed"].toBool()) {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.err.endsWith(": code object is not signed at all\n"))
                << r.err.toStdString();
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        const QByteArray xml = QByteArray::fromBase64(s["entitlements"].toString().toLatin1());
        if (!s.contains("der_entitlements")) {
            EXPECT_EQ(r.out, xml);
            continue;
        }
        const auto shown = varko::plist::parse(std::string_view(r.out.data(), r.out.size()));
        const auto written = varko::plist::parse(std::string_view(xml.data(), xml.size()));
        ASSERT_TRUE(shown && written) << r.out.toStdString();
        EXPECT_EQ(*shown, *written) << r.out.toStdString();
        EXPECT_EQ(r.out.toStdString(), varko::plist::writeXml(*written));
    }
}

// A current Mac runs the arm64 slice (arm64e only where arm64 is missing, as third-party
// arm64e is not run by default); only without either does the Intel slice stand in.
TEST_P(RealFileTest, WithoutAnArchitectureTheSliceAMacRunsIsShown) {
    const QJsonArray slices = slicesOf(path());
    ASSERT_FALSE(slices.isEmpty());
    QJsonObject expected = slices[0].toObject();
    for (const char* preferred : {"x86_64", "arm64e", "arm64"})
        for (const QJsonValue s : slices)
            if (s["arch"].toString() == preferred) expected = s.toObject();
    SCOPED_TRACE(expected["arch"].toString().toStdString());
    const auto r = codesign({"-dvvv", path()});
    if (!expected["signed"].toBool()) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, path() + ": code object is not signed at all\n");
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("\nCDHash=" + expected["cdhash"].toString() + "\n"))
        << r.err.toStdString();
}

TEST_P(RealFileTest, SpctlNamesTheDeveloperIdSignerAndTurnsAwayABareTool) {
    QString leaf;
    for (const QJsonValue s : slicesOf(path()))
        if (s["signed"].toBool() && !s["adhoc"].toBool()) leaf = s["authorities"][0].toString();
    const auto v = spctl(path());
    EXPECT_EQ(v.status, 3);
    if (leaf.isEmpty()) {
        // Ad hoc or unsigned, every slice alike: nobody vouches for the code, and nothing is
        // broken.
        EXPECT_EQ(v.err, path() + ": rejected\nsource=no usable signature\n");
        return;
    }
    EXPECT_TRUE(leaf.startsWith("Developer ID Application: ")) << leaf.toStdString();
    EXPECT_TRUE(v.err.startsWith(path() +
                                 ": rejected (the code is valid but does not seem to be an app)\n"
                                 "origin=" +
                                 leaf + "\n"))
        << v.err.toStdString();
}

// One changed byte in any signed slice, the host's or not, in its code, its code directory
// or its CMS, and the code is no longer valid.
TEST_P(RealFileTest, OneChangedByteInAnySignedSliceIsNoticed) {
    const QJsonArray slices = slicesOf(path());
    QTemporaryDir dir;
    const QString copy = dir.filePath(QFileInfo(path()).fileName());
    ASSERT_TRUE(QFile::copy(path(), copy));

    for (const QJsonValue v : slices) {
        const QJsonObject s = v.toObject();
        if (!s["signed"].toBool()) continue;
        const bool adhoc = s["adhoc"].toBool();
        QList<std::pair<QString, qint64>> changes = {
            {"a code page", s["code_page_at"].toInteger()}};
        for (const QJsonValue d : s["code_directories"].toArray()) {
            const QString cd = " of the " + d["hash_type"].toString() + " code directory";
            changes.append({"a page hash" + cd, d["page_hash_at"].toInteger()});
            // An ad hoc identifier is vouched for by nothing, so only a signer's can be caught.
            if (!adhoc) changes.append({"the identifier" + cd, d["identifier_at"].toInteger()});
        }
        if (!adhoc) changes.append({"the CMS signature", s["signature_at"].toInteger()});
        for (const auto& [what, at] : changes) {
            SCOPED_TRACE((s["arch"].toString() + ": " + what).toStdString());
            ASSERT_TRUE(flipByte(copy, at));
            const auto r = spctl(copy);
            ASSERT_TRUE(flipByte(copy, at));
            EXPECT_EQ(r.status, 3);
            const QString verdict = firstLine(r.err);
            EXPECT_FALSE(verdict.contains("the code is valid")) << r.err.toStdString();
            // A sound ad hoc or unsigned slice is turned away without a reason; a broken one
            // outweighs it and must be named, with its slice when there are several.
            EXPECT_TRUE(verdict.startsWith(copy + ": rejected (")) << r.err.toStdString();
            if (slices.size() > 1) {
                EXPECT_TRUE(verdict.endsWith("(" + s["arch"].toString() + " slice))"))
                    << r.err.toStdString();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Npm, RealFileTest, ::testing::ValuesIn(realFiles),
                         [](const ::testing::TestParamInfo<RealFile>& info) {
                             return std::string(info.param.name);
                         });

/// An app in `dir` named `name` around a copy of the real Developer ID tool bun.
QString appAroundBun(const QTemporaryDir& dir, const QString& name, const QString& bun) {
    const QString app = dir.filePath(name);
    if (!QDir().mkpath(app + "/Contents/MacOS") || !QFile::copy(bun, app + "/Contents/MacOS/bun"))
        return {};
    QFile info(app + "/Contents/Info.plist");
    if (!info.open(QIODevice::WriteOnly)) return {};
    info.write(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleExecutable</key><string>bun</string></dict></plist>\n");
    return app;
}

TEST_F(RealWorldTest, AnAppAroundABerSignedDeveloperIdToolShowsItsSignature) {
    const QString bun = file("_oven_bun-darwin-x64_1.4.5/package/bin/bun");
    const QJsonObject s = slicesOf(bun)[0].toObject();
    QTemporaryDir dir;
    const QString app = appAroundBun(dir, "X.app", bun);
    ASSERT_FALSE(app.isEmpty());

    const auto r = run(VARKO_BIN_DIR "/varko-report", {"--json", app});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out).array().first().toObject();
    const QString report = o["report"].toString();
    const QString entitlements =
        QString::fromUtf8(QByteArray::fromBase64(s["entitlements"].toString().toLatin1()));
    const QStringList granted = allCaptured(entitlements, "<key>([^<]+)</key>\\s*<true/>");
    ASSERT_FALSE(granted.isEmpty()) << entitlements.toStdString();
    const qsizetype entitlementSection = report.indexOf("\nEntitlements:\n");
    ASSERT_GE(entitlementSection, 0) << report.toStdString();
    for (const QString& key : granted)
        EXPECT_TRUE(report.indexOf("\n" + key + " : 1\n") > entitlementSection)
            << key.toStdString() << "\nin:\n"
            << report.toStdString();
    EXPECT_TRUE(o["checks"]["isHardenedCheck"].toBool());

    const qsizetype section = report.indexOf("\ncodesign check:\n");
    ASSERT_GE(section, 0) << report.toStdString();
    const QString codesignText = report.mid(section);
    EXPECT_FALSE(codesignText.contains("codesign error")) << codesignText.toStdString();
    QString authorities;
    for (const QJsonValue a : s["authorities"].toArray())
        authorities += "Authority=" + a.toString() + "\n";
    for (const QString& expected : {authorities, "TeamIdentifier=" + s["team_id"].toString() + "\n",
                                    "Timestamp=" + codesignDate(s["timestamp"].toString()) + "\n",
                                    "flags=" + s["flags"].toString() + "(runtime)"})
        EXPECT_TRUE(codesignText.contains(expected)) << expected.toStdString() << "\nin:\n"
                                                     << codesignText.toStdString();
}

TEST_F(RealWorldTest, ADeveloperIdToolWithOneCodeByteChangedClaimsItsSignerAndIsAChange) {
    const QString bun = file("_oven_bun-darwin-x64_1.4.5/package/bin/bun");
    QTemporaryDir dir;
    const QString before = appAroundBun(dir, "Before.app", bun);
    const QString after = appAroundBun(dir, "After.app", bun);
    ASSERT_FALSE(before.isEmpty() || after.isEmpty());
    // Well inside the first page's code, past the headers.
    ASSERT_TRUE(flipByte(after + "/Contents/MacOS/bun", 0x2000));

    const auto shown = run(VARKO_BIN_DIR "/varko-report", {"--json", after});
    const QJsonObject verdict =
        QJsonDocument::fromJson(shown.out).array().first().toObject()["verdict"].toObject();
    const QString signer = verdict["signer"].toString();
    EXPECT_TRUE(signer.startsWith("claims Developer ID Application: "));
    EXPECT_TRUE(signer.endsWith("; the code does not match its signature")) << signer.toStdString();
    EXPECT_EQ(verdict["hardenedRuntime"].toString(), "unknown");
    EXPECT_EQ(verdict["sealed"].toString(), "no");

    const auto diff = run(VARKO_BIN_DIR "/varko-report", {"--diff", before, after});
    EXPECT_EQ(diff.status, 1) << diff.out.toStdString() << diff.err.toStdString();
    // An app around a bare tool is no sealed app: the code was as signed, the app never was.
    const QString changes = QString::fromUtf8(diff.out);
    EXPECT_TRUE(changes.startsWith("[high] Signer: claims Developer ID Application: "))
        << changes.toStdString();
    EXPECT_TRUE(
        changes.contains("; the app does not match its signature → claims Developer ID "
                         "Application: "))
        << changes.toStdString();
    EXPECT_TRUE(
        changes.contains("[medium] Sealed: no (invalid Info.plist (plist or signature "
                         "have been modified)) → no (invalid signature: page 2 of the code "
                         "does not match its hash)\n"))
        << changes.toStdString();
}

}  // namespace
