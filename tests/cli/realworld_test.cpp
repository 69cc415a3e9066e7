// The stand-ins on real signed files from the npm registry, fetched and pinned by
// scripts/fetch-fixtures.sh into the build folder. Real files decide every format fact, and
// sigreader.py, a second reader written apart from ours, decides every value shown.
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include "cli/clitest.h"
#include "format/codesig/requirement.h"
#include "format/plist/plist.h"
#include "overview/datafile.h"

namespace {

const QString cache = QStringLiteral(VARKO_BIN_DIR "/../fixtures");
// The data folder need not exist, so paths are resolved by text, not by the kernel.
const QString fetchScript = QDir::cleanPath(VARKO_TEST_DATA "/../../../scripts/fetch-fixtures.sh");
const QString readerScript = QDir::cleanPath(VARKO_TEST_DATA "/../sigreader.py");
// Under the fixture cache, in the folders the fetch script names.
constexpr auto sentryCli = "_sentry_cli-darwin_3.8.0/package/bin/sentry-cli";
constexpr auto esbuild = "_esbuild_darwin-arm64_0.28.2/package/bin/esbuild";
constexpr auto fsevents = "fsevents_2.3.3/package/fsevents.node";
constexpr auto bun = "_oven_bun-darwin-x64_1.4.5/package/bin/bun";

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
QString codesignDate(const QJsonValue& iso) {
    return QLocale::c().toString(QDateTime::fromString(iso.toString(), Qt::ISODate).toUTC(),
                                 "MMM d, yyyy 'at' h:mm:ss AP");
}

const auto text = [](const QJsonValue& v) { return v.toString().toStdString(); };

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

struct RealFile {
    const char* name;
    const char* path;
};

const RealFile realFiles[] = {
    {"SentryCli", sentryCli},
    {"Esbuild", esbuild},
    {"Fsevents", fsevents},
    {"Bun", bun},
    {"Tsgo", "_typescript_native-preview-darwin-arm64_7.0.0-dev.20260707.2/package/lib/tsgo"},
    {"Clipboard",
     "_mariozechner_clipboard-darwin-universal_0.3.9/package/clipboard.darwin-universal.node"},
    {"Biome", "_biomejs_cli-darwin-arm64_2.6.9/package/biome"},
};

/// The path under the fixture cache of the file the data files call `name`.
const char* realFile(const QByteArray& name) {
    for (const RealFile& f : realFiles)
        if (name == f.name) return f.path;
    ADD_FAILURE() << "no file " << name.toStdString();
    return "";
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

TEST_F(RealWorldTest, CodesignShowsWhatApplesCodesignShowed) {
    for (const auto& c : varko::testing::dataCases("apple-codesign.txt")) {
        const QString path = file(realFile(c[0]));
        const QString expected = QString::fromUtf8(c[3]).replace("%1", path);
        SCOPED_TRACE((c[0] + " " + c[1] + ": " + c[3]).toStdString());
        QStringList arguments{"-dvvv"};
        if (!c[1].isEmpty()) arguments << "-a" << c[1];
        const auto r = codesign(arguments << path);
        ASSERT_EQ(r.status, c[2].toInt()) << r.err.toStdString();
        if (r.status == 0)
            EXPECT_TRUE(r.err.contains(expected)) << r.err.toStdString();
        else
            EXPECT_EQ(r.err, expected);
    }
}

// The other reader is only a witness if it is right: it must give the values above, which
// were read off Apple's own codesign, and must notice a changed byte where one matters.
TEST_F(RealWorldTest, TheIndependentReaderAgreesWithKnownValuesAndNoticesDamage) {
    for (const auto& c : varko::testing::dataCases("sigreader-known.txt")) {
        const QJsonValue slice = slicesOf(file(realFile(c[0])))[c[1].toInt()];
        const QJsonValue v = c[2].startsWith("cd.") ? slice["code_directories"][0][c[2].mid(3)]
                                                    : slice[QString(c[2])];
        const std::string json = varko::testing::jsonText(v);
        EXPECT_EQ(v.isString() ? text(v) : json.substr(1, json.size() - 2), c[3].toStdString())
            << (c[0] + " " + c[1] + " " + c[2]).toStdString();
    }
    const QJsonValue intel = slicesOf(file(sentryCli))[0], arm = slicesOf(file(fsevents))[1];
    const QJsonValue intelCd = intel["code_directories"][0];
    EXPECT_EQ(codesignDate(intel["timestamp"]), "Sep 16, 2026 at 2:16:56 PM");

    // A changed code page or page hash breaks the pages; a changed identifier or CMS, the CMS.
    QTemporaryDir dir;
    const auto noticed = [&](const char* relative, int slice, const char* verdict,
                             std::initializer_list<qint64> offsets) {
        const QString copy = dir.filePath(QFileInfo(relative).fileName());
        ASSERT_TRUE(QFile::copy(file(relative), copy));
        for (const qint64 at : offsets) {
            ASSERT_TRUE(flipByte(copy, at));
            EXPECT_FALSE(readSignature(copy).at(slice)[verdict].toBool()) << relative << at;
            ASSERT_TRUE(flipByte(copy, at));
        }
        EXPECT_TRUE(readSignature(copy).at(slice)[verdict].toBool()) << relative;
    };
    noticed(
        fsevents, 1, "pages_match",
        {arm["code_page_at"].toInteger(), arm["code_directories"][0]["page_hash_at"].toInteger()});
    noticed(sentryCli, 0, "cms_valid",
            {intelCd["identifier_at"].toInteger(), intel["signature_at"].toInteger()});
}

class RealFileTest : public RealWorldTest, public ::testing::WithParamInterface<RealFile> {
protected:
    QString path() const { return file(GetParam().path); }
    /// Whether slice `s` is unsigned; if so, `r` must be codesign's refusal of it.
    bool refusedUnsigned(const QJsonValue& s, const ToolResult& r) const {
        if (s["signed"].toBool()) return false;
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, path() + ": code object is not signed at all\n");
        return true;
    }
};

/// Checks one slice's -dvvv text against the independent reading of that slice.
void expectDetails(const QString& err, const QJsonObject& s, const QString& format) {
    const auto expectLine = [&](const QString& line) {
        EXPECT_TRUE(err.contains("\n" + line + "\n")) << line.toStdString() << "\nin:\n"
                                                      << err.toStdString();
    };
    QJsonObject chosen;
    QStringList candidates, choices;
    for (const QJsonValue d : s["code_directories"].toArray()) {
        const QString type = d["hash_type"].toString();
        if (d["cdhash"] == s["cdhash"]) chosen = d.toObject();
        candidates << "CandidateCDHash " + type + "=" + d["cdhash"].toString()
                   << "CandidateCDHashFull " + type + "=" + d["cdhash_full"].toString();
        choices << type;
    }
    // The flags' names in brackets are codesign's own words, not the reader's.
    const QString codeDirectory =
        QString("\nCodeDirectory v=%1 size=%2 flags=%3\\([a-z,-]*\\) hashes=%4 location=embedded\n")
            .arg(s["version"].toString())
            .arg(s["cd_size"].toInteger())
            .arg(s["flags"].toString(), QRegularExpression::escape(s["hashes"].toString()));
    EXPECT_TRUE(err.contains(QRegularExpression(codeDirectory)))
        << codeDirectory.toStdString() << "\nin:\n"
        << err.toStdString();
    // One pair of candidate lines per code directory, between these two lines.
    const qsizetype from = err.indexOf("\nHash type="), to = err.indexOf("\nHash choices=");
    ASSERT_TRUE(from >= 0 && to > from) << err.toStdString();
    EXPECT_TRUE(err.mid(from).startsWith("\nHash type=" + s["hash_type"].toString() + " size="));
    QStringList shown = err.mid(from + 1, to - from - 1).split('\n').mid(1);
    shown.sort();
    candidates.sort();
    EXPECT_EQ(shown.join('\n').toStdString(), candidates.join('\n').toStdString());
    const QJsonObject requirements = s["requirements"].toObject();
    for (const QString& line :
         {"Identifier=" + s["identifier"].toString(), "Format=" + format,
          "Hash choices=" + choices.join(','), "CMSDigest=" + chosen["cdhash_full"].toString(),
          "CDHash=" + s["cdhash"].toString(),
          "TeamIdentifier=" + (s["team_id"].isString() ? s["team_id"].toString() : "not set"),
          requirements.isEmpty() ? QString("Internal requirements=none")
                                 : QString("Internal requirements count=%1 size=%2")
                                       .arg(requirements["count"].toInteger())
                                       .arg(requirements["size"].toInteger())})
        expectLine(line);

    const QStringList authorities = allCaptured(err, "^Authority=(.*)$");
    if (s["adhoc"].toBool()) {
        expectLine("Signature=adhoc");
        EXPECT_TRUE(authorities.isEmpty()) << err.toStdString();
        EXPECT_FALSE(err.contains("\nTimestamp=") || err.contains("\nSigned Time="))
            << err.toStdString();
        return;
    }
    QStringList expected;
    for (const QJsonValue a : s["authorities"].toArray()) expected << a.toString();
    EXPECT_EQ(authorities.join('\n').toStdString(), expected.join('\n').toStdString());
    // codesign names the timestamp authority's time when there is one, else the signer's clock.
    expectLine(s["timestamp"].isString() ? "Timestamp=" + codesignDate(s["timestamp"])
                                         : "Signed Time=" + codesignDate(s["signing_time"]));
}

TEST_P(RealFileTest, EverySliceAndItsEntitlementsShowWhatTheIndependentReaderReads) {
    const QJsonArray slices = slicesOf(path());
    ASSERT_FALSE(slices.isEmpty());
    QStringList arches;
    for (const QJsonValue s : slices) arches << s["arch"].toString();
    const QString format = QString(slices.size() > 1 ? "Mach-O universal (%1)" : "Mach-O thin (%1)")
                               .arg(arches.join(' '));
    for (const QJsonValue s : slices) {
        SCOPED_TRACE(text(s["arch"]));
        const auto r = codesign({"-dvvv", "-a", s["arch"].toString(), path()});
        const auto e =
            codesign({"--display", "--entitlements", ":-", "-a", s["arch"].toString(), path()});
        if (refusedUnsigned(s, r) && refusedUnsigned(s, e)) continue;
        // The files are as their signers made them; else the tools cannot be judged by them.
        EXPECT_TRUE(s["pages_match"].toBool());
        EXPECT_TRUE(s["adhoc"].toBool() || s["cms_valid"].toBool());
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        expectDetails(r.err, s.toObject(), format);

        // With a DER form (that codesign writes beside the XML), the DER form is shown as
        // XML; the real signers' two forms agree, so it reads as the XML blob does.
        EXPECT_EQ(e.status, 0) << e.err.toStdString();
        const QByteArray xml = QByteArray::fromBase64(s["entitlements"].toString().toLatin1());
        const auto shown = varko::plist::parse(std::string_view(e.out.data(), e.out.size()));
        const auto written = varko::plist::parse(std::string_view(xml.data(), xml.size()));
        if (!s.toObject().contains("der_entitlements")) {
            EXPECT_EQ(e.out, xml);
        } else {
            ASSERT_TRUE(shown && written) << e.out.toStdString();
            EXPECT_EQ(*shown, *written) << e.out.toStdString();
            EXPECT_EQ(e.out.toStdString(), varko::plist::writeXml(*written));
        }
    }
}

// A current Mac runs the arm64 slice (arm64e only where arm64 is missing, as third-party
// arm64e is not run by default); only without either does the Intel slice stand in.
TEST_P(RealFileTest, WithoutAnArchitectureTheSliceAMacRunsIsShown) {
    const QJsonArray slices = slicesOf(path());
    ASSERT_FALSE(slices.isEmpty());
    QJsonValue expected = slices[0];
    for (const char* preferred : {"x86_64", "arm64e", "arm64"})
        for (const QJsonValue s : slices)
            if (s["arch"].toString() == preferred) expected = s;
    SCOPED_TRACE(text(expected["arch"]));
    const auto r = codesign({"-dvvv", path()});
    if (refusedUnsigned(expected, r)) return;
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

    for (const QJsonValue s : slices) {
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
            const QString verdict = r.err.section('\n', 0, 0);
            EXPECT_FALSE(verdict.contains("the code is valid")) << r.err.toStdString();
            // A sound ad hoc or unsigned slice is turned away without a reason; a broken one
            // outweighs it and must be named, with its slice when there are several.
            EXPECT_TRUE(verdict.startsWith(copy + ": rejected (")) << r.err.toStdString();
            EXPECT_TRUE(slices.size() == 1 ||
                        verdict.endsWith("(" + s["arch"].toString() + " slice))"))
                << r.err.toStdString();
        }
    }
}

/// The designated requirement of slice `s` as the independent reader reads it: the
/// signature's own, else the platform's for ad hoc code, its cdhash; with whether it is made up.
std::pair<QString, bool> designatedOf(const QJsonValue& s) {
    const QJsonValue own = s["requirements"]["designated"];
    if (own.isString()) return {own.toString(), false};
    return {"cdhash H\"" + s["cdhash"].toString() + "\"", true};
}

// Binary to text as the independent reader prints it, text to binary to the same text (the
// compiler nests `and` leftwards where codesign's signer nested it rightwards, so the bytes
// may differ), and each signed slice satisfies its own requirement and not another file's.
TEST_P(RealFileTest, EachSliceIsKnownByItsDesignatedRequirementAndNoOther) {
    const auto self = std::ranges::find_if(
        realFiles, [&](const RealFile& f) { return f.path == std::string_view(GetParam().path); });
    const RealFile& next = realFiles[(self - std::begin(realFiles) + 1) % std::size(realFiles)];
    QString foreign;
    for (const QJsonValue s : slicesOf(file(next.path)))
        if (s["signed"].toBool() && foreign.isEmpty()) foreign = designatedOf(s).first;
    ASSERT_FALSE(foreign.isEmpty());
    for (const QJsonValue s : slicesOf(path())) {
        if (!s["signed"].toBool()) continue;
        const QString arch = s["arch"].toString();
        SCOPED_TRACE(arch.toStdString());
        const auto [designated, implicit] = designatedOf(s);
        const auto shown = codesign({"-d", "-r-", "-a", arch, path()});
        ASSERT_EQ(shown.status, 0) << shown.err.toStdString();
        EXPECT_EQ(QString::fromUtf8(shown.out),
                  (implicit ? "# designated => " : "designated => ") + designated + "\n");

        const auto compiled = varko::codesig::compileRequirement(designated.toStdString());
        ASSERT_TRUE(compiled) << compiled.error().message;
        const auto again = varko::codesig::requirementText(*compiled);
        ASSERT_TRUE(again) << again.error().message;
        EXPECT_EQ(*again, designated.toStdString());

        EXPECT_EQ(codesign({"--verify", "-a", arch, "-R=" + designated, path()}).status, 0);
        const auto other = codesign({"--verify", "-a", arch, "-R=" + foreign, path()});
        EXPECT_EQ(other.status, 3) << other.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Npm, RealFileTest, ::testing::ValuesIn(realFiles),
                         [](const auto& info) { return std::string(info.param.name); });

/// An app in `dir` named `name` around a copy of the real Developer ID tool bun.
QString appAroundBun(const QTemporaryDir& dir, const QString& name) {
    const QString app = dir.filePath(name);
    const bool made =
        QDir().mkpath(app + "/Contents/MacOS") &&
        QFile::copy(cache + "/" + bun, app + "/Contents/MacOS/bun") &&
        varko::testing::writeFile(
            app + "/Contents/Info.plist",
            varko::testing::xmlPlist("<key>CFBundleExecutable</key><string>bun</string>"));
    return made ? app : QString();
}

TEST_F(RealWorldTest, AnAppAroundABerSignedDeveloperIdToolShowsItsSignature) {
    const QJsonObject s = slicesOf(file(bun))[0].toObject();
    QTemporaryDir dir;
    const QString app = appAroundBun(dir, "X.app");
    ASSERT_FALSE(app.isEmpty());

    const auto r = run(VARKO_BIN_DIR "/varko-report", {"--json", app});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out).array().first().toObject();
    EXPECT_TRUE(o["checks"]["isHardenedCheck"].toBool());
    const QString report = o["report"].toString();
    const QString entitlements =
        QString::fromUtf8(QByteArray::fromBase64(s["entitlements"].toString().toLatin1()));
    const QStringList granted = allCaptured(entitlements, "<key>([^<]+)</key>\\s*<true/>");
    ASSERT_FALSE(granted.isEmpty()) << entitlements.toStdString();
    const qsizetype entitlementSection = report.indexOf("\nEntitlements:\n");
    const qsizetype section = report.indexOf("\ncodesign check:\n");
    ASSERT_TRUE(entitlementSection >= 0 && section >= 0) << report.toStdString();
    for (const QString& key : granted)
        EXPECT_TRUE(report.indexOf("\n" + key + " : 1\n") > entitlementSection)
            << key.toStdString() << "\nin:\n"
            << report.toStdString();

    const QString codesignText = report.mid(section);
    EXPECT_FALSE(codesignText.contains("codesign error")) << codesignText.toStdString();
    QString authorities;
    for (const QJsonValue a : s["authorities"].toArray())
        authorities += "Authority=" + a.toString() + "\n";
    for (const QString& expected : {authorities, "TeamIdentifier=" + s["team_id"].toString() + "\n",
                                    "Timestamp=" + codesignDate(s["timestamp"]) + "\n",
                                    "flags=" + s["flags"].toString() + "(runtime)"})
        EXPECT_TRUE(codesignText.contains(expected)) << expected.toStdString() << "\nin:\n"
                                                     << codesignText.toStdString();
}

TEST_F(RealWorldTest, ADeveloperIdToolWithOneCodeByteChangedClaimsItsSignerAndIsAChange) {
    QTemporaryDir dir;
    const QString before = appAroundBun(dir, "Before.app"), after = appAroundBun(dir, "After.app");
    ASSERT_FALSE(before.isEmpty() || after.isEmpty());
    // Well inside the first page's code, past the headers.
    ASSERT_TRUE(flipByte(after + "/Contents/MacOS/bun", 0x2000));

    const auto shown = run(VARKO_BIN_DIR "/varko-report", {"--json", after});
    const QJsonValue verdict = QJsonDocument::fromJson(shown.out).array().first()["verdict"];
    const QString signer = verdict["signer"].toString();
    EXPECT_TRUE(signer.startsWith("claims Developer ID Application: "));
    EXPECT_TRUE(signer.endsWith("; the code does not match its signature")) << signer.toStdString();
    EXPECT_EQ(verdict["hardenedRuntime"].toString(), "unknown");
    EXPECT_EQ(verdict["sealed"].toString(), "no");

    const auto diff = run(VARKO_BIN_DIR "/varko-report", {"--diff", before, after});
    EXPECT_EQ(diff.status, 1) << diff.out.toStdString() << diff.err.toStdString();
    // An app around a bare tool is no sealed app: the code was as signed, the app never was.
    const QString changes = QString::fromUtf8(diff.out);
    for (const char* part :
         {"; the app does not match its signature → claims Developer ID Application: ",
          "[medium] Sealed: no (invalid Info.plist (plist or signature have been modified)) → no "
          "(invalid signature: page 2 of the code does not match its hash)\n"})
        EXPECT_TRUE(changes.contains(QString::fromUtf8(part))) << part << "\nin:\n"
                                                               << changes.toStdString();
    EXPECT_TRUE(changes.startsWith("[high] Signer: claims Developer ID Application: "))
        << changes.toStdString();
}

}  // namespace
