// varko-codesign run as a program on generated bundles and executables: what -d shows (the
// entitlements, the details, the internal requirements and the designated requirement the
// platform makes up when the signature holds none), and --verify's words and exit statuses for
// valid, modified and unsigned code and a test requirement given with -R.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "fixtures/bundlewriter.h"
#include "fixtures/exampleapp.h"
#include "fixtures/machowriter.h"
#include "fixtures/testsigning.h"
#include "format/casetable.h"
#include "format/codesig/requirement.h"
#include "format/macho_fixtures.h"
#include "format/plist/plist.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/programrun.h"

using namespace varko::examplegen;
using varko::testing::caseTable;

namespace {

using ToolRun = varko::testing::ProgramRun;

ToolRun codesign(const QStringList& arguments) {
    return varko::testing::runTool("varko-codesign", arguments);
}

ToolRun entitlementsOf(const QString& path) {
    return codesign({"--display", "--entitlements", ":-", path});
}

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), static_cast<int>(s.size()));
}

std::string infoPlistNaming(const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           executable + "</string>\n</dict>\n</plist>\n";
}

std::vector<std::byte> executable(Arch arch, std::optional<std::string> entitlements,
                                  bool withSignature = true) {
    MachOOptions o;
    o.arch = arch;
    if (withSignature) {
        o.signature->identifier = "com.example.cli";
        o.signature->entitlements = std::move(entitlements);
    } else {
        o.signature.reset();
    }
    return makeMachO(o);
}

/// Expects the run to have failed with status 1 and nothing on its output, its error being
/// `pattern`, where * stands for any text.
void expectFailure(const ToolRun& r, const QString& pattern) {
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty());
    const QRegularExpression re(
        "\\A" + QRegularExpression::escape(pattern).replace("\\*", ".*") + "\\z",
        QRegularExpression::DotMatchesEverythingOption);
    EXPECT_TRUE(re.match(QString::fromUtf8(r.err)).hasMatch()) << r.err.toStdString();
}

std::string sha1(const TestIdentity& id) {
    unsigned char out[SHA_DIGEST_LENGTH];
    SHA1(id.certificate.data(), id.certificate.size(), out);
    return QByteArray(reinterpret_cast<const char*>(out), sizeof out).toHex().toStdString();
}

class CodesignTest : public ::testing::Test {
protected:
    QString bundle(const QString& name, const std::vector<std::byte>& exe,
                   const std::string& exeName = "App") {
        const QString app = dir.filePath(name);
        auto r = writeBundle(app.toStdString(), infoPlistNaming(exeName), exeName, exe);
        EXPECT_TRUE(r) << r.error().message;
        return app;
    }
    QString file(const QString& name, const std::vector<std::byte>& content) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeFile(path.toStdString(), content, true));
        return path;
    }
    static std::string requirementsOf(const QString& path) {
        const auto r = codesign({"-d", "-r-", path});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        return r.out.toStdString();
    }
    static std::string cdhashOf(const QString& path, const QString& arch) {
        const auto r = codesign({"-dvvv", "-a", arch, path});
        const auto m = QRegularExpression("CDHash=([0-9a-f]+)").match(QString::fromUtf8(r.err));
        EXPECT_TRUE(m.hasMatch()) << r.err.toStdString();
        return m.captured(1).toStdString();
    }
    static std::string designatedOf(const QString& path) {
        const auto m = QRegularExpression("designated => (.*)\n")
                           .match(QString::fromStdString(requirementsOf(path)));
        EXPECT_TRUE(m.hasMatch()) << requirementsOf(path);
        return m.captured(1).toStdString();
    }
    QTemporaryDir dir;
};

TEST_F(CodesignTest, PrintsTheExampleEntitlementsUnchanged) {
    auto app = writeExampleApp(dir.path().toStdString());
    ASSERT_TRUE(app) << app.error().message;
    const QString path = QString::fromStdString(app->string());
    const ToolRun r = entitlementsOf(path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, bytes(exampleEntitlements()));
    EXPECT_EQ(r.err, "Executable=" + QDir(dir.path()).canonicalPath().toUtf8() +
                         "/Example.app/Contents/MacOS/Example\n");
}

TEST_F(CodesignTest, AcceptsOptionsInAnyOrderAndPathsWithBlanks) {
    const std::string xml = "<plist version=\"1.0\"><dict/></plist>\n";
    ASSERT_TRUE(QDir(dir.path()).mkdir("My Apps"));
    const QString app = bundle("My Apps/Some App.app", executable(Arch::X86_64, xml), "Some App");
    for (const QStringList& args : {QStringList{app, "--entitlements", ":-", "--display"},
                                    QStringList{"-d", "--entitlements=:-", app},
                                    QStringList{"--display", "--entitlements", ":-", "--", app}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const ToolRun r = codesign(args);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, bytes(xml));
    }
    // Without ':' the blob keeps its 8-byte header, as codesign's old form does.
    const ToolRun raw = codesign({"-d", "--entitlements", "-", app});
    EXPECT_EQ(raw.out.size(), static_cast<int>(xml.size() + 8));
    EXPECT_TRUE(raw.out.startsWith(QByteArray::fromHex("fade7171")));
}

TEST_F(CodesignTest, ReadsBareAndFlatCodeAndTheSliceACurrentMacRuns) {
    const std::string x86 = "<plist><string>x86_64</string></plist>\n";
    const std::string arm = "<plist><string>arm64</string></plist>\n";
    const std::vector<std::vector<std::byte>> slices{executable(Arch::X86_64, x86),
                                                     executable(Arch::Arm64, arm)};
    const QString fat = file("fat", makeUniversal(slices));
    // Whatever machine reads it, the slice shown is the one Apple silicon runs.
    EXPECT_EQ(entitlementsOf(fat).out, bytes(arm));
    const std::vector<std::vector<std::byte>> older{executable(Arch::I386, arm),
                                                    executable(Arch::X86_64, x86)};
    EXPECT_EQ(entitlementsOf(file("older", makeUniversal(older))).out, bytes(x86));

    // -a takes codesign's names and numbers, and arm64 is never arm64e.
    const std::string arme = "<plist><string>arm64e</string></plist>\n";
    const QString three =
        file("three", makeUniversal(std::vector<std::vector<std::byte>>{
                          executable(Arch::I386, x86), executable(Arch::Arm64e, arme)}));
    EXPECT_EQ(entitlementsOf(three).out, bytes(arme));
    for (const auto& [name, shown] : {std::pair{"i386", x86},
                                      {"7", x86},
                                      {"7,3", x86},
                                      {"arm64e", arme},
                                      {"16777228", arme},
                                      {"16777228,2", arme}})
        EXPECT_EQ(codesign({"--display", "-a", name, "--entitlements", ":-", three}).out,
                  bytes(shown))
            << name;
    expectFailure(codesign({"--display", "-a", "arm64", "--entitlements", ":-", three}),
                  "*: the executable has no code for architecture arm64\n");
    EXPECT_EQ(codesign({"--display", "-a", "pentium", "--entitlements", ":-", three}).status, 1);

    EXPECT_EQ(entitlementsOf(file("i386", executable(Arch::I386, arm))).out, bytes(arm));

    ASSERT_TRUE(QDir(dir.path()).mkdir("Flat.app"));
    ASSERT_TRUE(varko::testing::writeFile(dir.filePath("Flat.app/Info.plist"),
                                          bytes(infoPlistNaming("Flat"))));
    file("Flat.app/Flat", executable(Arch::X86_64, x86));
    EXPECT_EQ(entitlementsOf(dir.filePath("Flat.app")).out, bytes(x86));
}

TEST_F(CodesignTest, SignedWithoutEntitlementsPrintsNothing) {
    const ToolRun r = entitlementsOf(bundle("Plain.app", executable(Arch::Arm64, std::nullopt)));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(CodesignTest, RefusesWhatItCannotShowWithCodesignsWords) {
    const QString unsignedApp = bundle("Unsigned.app", executable(Arch::X86_64, {}, false));
    const QString empty = dir.filePath("Empty.app");
    ASSERT_TRUE(QDir(dir.path()).mkdir("Empty.app"));
    const QString noExe = bundle("NoExe.app", executable(Arch::X86_64, {}));
    ASSERT_TRUE(QFile::remove(noExe + "/Contents/MacOS/App"));
    const QString textFile = file("notes.txt", varko::testing::bytesOf("just text\n"));
    const QString missing = dir.filePath("Missing Thing.app");

    const char* unsuitable = "bundle format unrecognized, invalid, or unsuitable";
    for (const auto& [path, message] : {std::pair{unsignedApp, "code object is not signed at all"},
                                        {empty, unsuitable},
                                        {noExe, unsuitable},
                                        {textFile, unsuitable},
                                        {missing, "No such file or directory"}})
        expectFailure(entitlementsOf(path), path + ": " + message + "\n");
}

TEST_F(CodesignTest, ReportsMalformedSignaturesPlainly) {
    auto exe = executable(Arch::X86_64, "<plist/>");
    // The SuperBlob's count is the third big-endian word of the signature.
    varko::testing::putBE32(
        exe, varko::testing::getLE32(exe, varko::testing::signatureCommand + 8) + 8, 0xffffffff);
    const QString path = file("broken", exe);
    expectFailure(entitlementsOf(path), path +
                                            ": invalid or unsupported format for signature: "
                                            "malformed code signature (SuperBlob count 4294967295 "
                                            "does not fit*");

    auto cut = executable(Arch::X86_64, "<plist/>");
    cut.resize(cut.size() - 1);
    expectFailure(entitlementsOf(file("cut", cut)),
                  "*: main executable is malformed: truncated or malformed object (load command 1 "
                  "LC_SEGMENT_64 fileoff plus filesize extends past the end of the file)\n");
}

TEST_F(CodesignTest, DetailsOfTheExampleInCodesignsOrderAndWords) {
    const QString app = dir.filePath("Example.app");
    ASSERT_TRUE(writeExampleApp(dir.path().toStdString()));
    const ToolRun r = codesign({"-dvvv", app});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    const QStringList lines = QString::fromUtf8(r.err).split('\n');
    QStringList expected = {"Executable=" + QDir(app).canonicalPath() + "/Contents/MacOS/Example"};
    for (const auto& [line] : caseTable<1>("example_details.txt"))
        expected.append(QString::fromStdString(line));
    expected.append("");
    ASSERT_EQ(lines.size(), expected.size()) << r.err.toStdString();
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpression pattern(
            QRegularExpression::wildcardToRegularExpression(expected[i]));
        EXPECT_TRUE(pattern.match(lines[i]).hasMatch()) << lines[i].toStdString();
    }
    // The cdhash is the code directory's digest cut to 20 bytes; the candidates say the same.
    const QString digest = lines[8].section('=', 1), cdhash = lines[10].section('=', 1);
    EXPECT_EQ(digest.size(), 64);
    EXPECT_EQ(cdhash, digest.left(40));
    EXPECT_EQ(lines[5].section('=', 1), cdhash);
    EXPECT_EQ(lines[6].section('=', 1), digest);
}

TEST_F(CodesignTest, DetailsOfBareCodeWithATeamAndNoFlags) {
    MachOOptions o;
    o.arch = Arch::X86_64;
    o.signature->identifier = "com.example.tool";
    o.signature->teamId = "ABCDE12345";
    o.signature->flags = 0;
    o.signature->requirements = false;
    const QString path = file("tool", makeMachO(o));
    const ToolRun r = codesign({"-d", "-v", "-v", "-v", path});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    for (const char* line : {"\nIdentifier=com.example.tool\n", "\nFormat=Mach-O thin (x86_64)\n",
                             " flags=0x0(none) ", "\nInfo.plist=not bound\n",
                             "\nTeamIdentifier=ABCDE12345\n", "\nInternal requirements=none\n"})
        EXPECT_TRUE(r.err.contains(line)) << line << "\n" << r.err.toStdString();
}

TEST_F(CodesignTest, DetailsRefuseUnsignedAndBrokenCode) {
    expectFailure(
        codesign({"-dvvv", bundle("U.app", executable(Arch::Arm64, std::nullopt, false))}),
        "*: code object is not signed at all\n");

    // A code directory whose hash slots run past its blob.
    auto exe = executable(Arch::X86_64, std::nullopt);
    const std::size_t sig = varko::testing::getLE32(exe, varko::testing::signatureCommand + 8);
    const std::uint32_t cdOffset =
        varko::testing::getBE32(exe, sig + 12 + 4);                 // the code directory's offset
    varko::testing::putBE32(exe, sig + cdOffset + 28, 0x7f7f7f7f);  // nCodeSlots
    expectFailure(codesign({"-dvvv", file("broken", exe)}),
                  "*: invalid or unsupported format for signature: *");
}

TEST_F(CodesignTest, TheDerFormIsShownAsXmlAndOutranksTheXmlForm) {
    const auto xml = [](const std::string& body) {
        return "<plist version=\"1.0\"><dict>" + body + "</dict></plist>\n";
    };
    const std::string camera = "<key>com.apple.security.device.camera</key>";
    const auto granted = varko::plist::parse(xml(camera + "<true/>"));
    const QByteArray shown = bytes(varko::plist::writeXml(*granted));
    const std::vector<std::byte> der = derEntitlements(*granted->dictionary());
    struct Case {
        const char* what;
        std::optional<std::string> xml;
        std::vector<std::byte> der;
        QByteArray out;
    };
    // An unreadable DER form is an error, not a fall back to the XML that the system ignores.
    for (const Case& c : {Case{"DER only", std::nullopt, der, shown},
                          Case{"XML denies, DER grants", xml(camera + "<false/>"), der, shown},
                          Case{"DER unreadable", xml(camera + "<true/>"),
                               std::vector<std::byte>{std::byte{0x70}, std::byte{0x80}}, ""}}) {
        SCOPED_TRACE(c.what);
        MachOOptions o;
        o.signature->entitlements = c.xml;
        o.signature->derEntitlements = c.der;
        const QString path = file(c.what, makeMachO(o));
        if (c.out.isEmpty()) {
            expectFailure(entitlementsOf(path),
                          "*: invalid or unsupported format for signature: malformed DER "
                          "entitlements (at byte 1: indefinite length*");
            continue;
        }
        const ToolRun r = entitlementsOf(path);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, c.out);
        // Without ':' the XML keeps the blob header that the platform gives it.
        const ToolRun raw = codesign({"-d", "--entitlements", "-", path});
        EXPECT_EQ(raw.out.left(4).toHex() + raw.out.mid(8), "fade7171" + c.out);
    }
}

TEST_F(CodesignTest, TextFromTheItemCannotForgeLinesOfTheDisplay) {
    const std::string forged = "\nAuthority=Apple Root CA\nTeamIdentifier=APPLE12345";
    MachOOptions o;
    o.signature->identifier = "com.example.tool" + forged;
    const QString app = bundle("Forged.app", makeMachO(o), "App" + forged);
    const ToolRun r = codesign({"-dvvv", app});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.err).split('\n');
    EXPECT_FALSE(lines.contains("Authority=Apple Root CA")) << r.err.toStdString();
    EXPECT_FALSE(lines.contains("TeamIdentifier=APPLE12345")) << r.err.toStdString();
    const QString pictured =
        QString::fromUtf8("\u240AAuthority=Apple Root CA\u240ATeamIdentifier=APPLE12345");
    EXPECT_TRUE(lines.contains("Identifier=com.example.tool" + pictured)) << r.err.toStdString();
    EXPECT_TRUE(lines.at(0).startsWith("Executable=") && lines.at(0).endsWith("/App" + pictured))
        << r.err.toStdString();
    EXPECT_TRUE(lines.contains("TeamIdentifier=not set"));
}

TEST_F(CodesignTest, RefusesUnknownOptionsWithUsage) {
    for (const QStringList& args :
         {QStringList{"--frobnicate", "x"}, QStringList{"--entitlements"},
          QStringList{"--entitlements", ":-", "x"}, QStringList{"-d", "a", "b"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const ToolRun r = codesign(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains("Usage: varko-codesign")) << r.err.toStdString();
    }
    EXPECT_TRUE(codesign({"--frobnicate", "x"})
                    .err.startsWith("varko-codesign: unrecognized option `--frobnicate'\n"));
}

TEST_F(CodesignTest, AdHocCodeIsDesignatedByEverySlicesCdhash) {
    MachOOptions o;
    o.arch = Arch::X86_64;
    const auto intel = makeMachO(o);
    o.arch = Arch::Arm64;
    const auto arm = makeMachO(o);
    const QString thin = file("thin", intel);
    EXPECT_EQ(requirementsOf(thin),
              "# designated => cdhash H\"" + cdhashOf(thin, "x86_64") + "\"\n");
    // The slice shown first, then the others by CPU type.
    const QString fat = file("fat", makeUniversal(std::vector{intel, arm}));
    EXPECT_EQ(requirementsOf(fat), "# designated => cdhash H\"" + cdhashOf(fat, "arm64") +
                                       "\" or cdhash H\"" + cdhashOf(fat, "x86_64") + "\"\n");
}

TEST_F(CodesignTest, ExplicitRequirementsPrintAsTheyAreAndStandInForTheImplicit) {
    MachOOptions o;
    o.signature->requirementSet = *varko::codesig::compileRequirement(
        "designated => identifier tool and anchor apple\nlibrary => always");
    const QString designated = file("designated", makeMachO(o));
    EXPECT_EQ(requirementsOf(designated),
              "designated => identifier tool and anchor apple\nlibrary => always\n");

    o.signature->requirementSet = *varko::codesig::compileRequirement("host => always");
    const QString hostOnly = file("host", makeMachO(o));
    EXPECT_EQ(requirementsOf(hostOnly),
              "host => always\n# designated => cdhash H\"" + cdhashOf(hostOnly, "arm64") + "\"\n");

    // -r PATH writes the same text to the file.
    const QString out = dir.filePath("requirements.txt");
    ASSERT_EQ(codesign({"--display", "-r", out, designated}).status, 0);
    EXPECT_EQ(varko::testing::readFile(out),
              "designated => identifier tool and anchor apple\nlibrary => always\n");

    // A designated requirement whose program is a lone "and".
    o.signature->requirementSet = *varko::codesig::compileRequirement("designated => always");
    o.signature->requirementSet->back() = std::byte{6};
    const auto broken = codesign({"-d", "-r-", file("broken", makeMachO(o))});
    EXPECT_EQ(broken.status, 1);
    EXPECT_TRUE(
        broken.err.contains(": invalid or corrupted code requirement(s) (it ends inside "
                            "an expression)\n"))
        << broken.err.toStdString();
}

TEST_F(CodesignTest, SignedCodeIsDesignatedByTheHighestCertificateOfItsOrganization) {
    const TestPki pki;
    CertificateRequest r;
    r.commonName = "Team Intermediate";
    r.authority = true;
    r.organization = "Team Org";
    r.notBefore = jan2020;
    r.notAfter = jan2040;
    const TestIdentity teamCa = issueCertificate(r, pki.root);
    r.commonName = "Team Leaf";
    r.authority = false;
    r.notAfter = jan2030;
    const TestIdentity teamLeaf = issueCertificate(r, teamCa);
    r.organization = "Elsewhere";
    const TestIdentity loneLeaf = issueCertificate(r, teamCa);
    const struct {
        const char* name;
        SignWith with;
        std::string anchor;
    } cases[] = {
        {"all one organization",
         {&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}},
         "root = H\"" + sha1(pki.root)},
        {"up to the intermediate",
         {&teamLeaf, {&teamLeaf, &teamCa, &pki.root}},
         "1 = H\"" + sha1(teamCa)},
        {"the leaf alone",
         {&loneLeaf, {&loneLeaf, &teamCa, &pki.root}},
         "leaf = H\"" + sha1(loneLeaf)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = file(c.name, makeMachO(signedMachO(c.with, 100)));
        EXPECT_EQ(requirementsOf(path),
                  "# designated => identifier \"com.example.varko.signed\" and certificate " +
                      c.anchor + "\"\n");
    }
}

TEST_F(CodesignTest, VerifyGivesTheStatusesAndWordsCodesignGives) {
    MachOOptions o;
    const QString a = file("a", makeMachO(o));
    o.codeSize += 4096;
    o.signature->identifier = "com.example.other";
    const QString b = file("b", makeMachO(o));
    auto modified = makeMachO(o);
    modified[modified.size() / 4] ^= std::byte{1};
    const QString tampered = file("tampered", modified);
    MachOOptions unsignedCode;
    unsignedCode.signature.reset();
    const QString bare = file("bare", makeMachO(unsignedCode));
    o.signature->requirementSet = *varko::codesig::compileRequirement("designated => identifier x");
    const QString wrongDesignated = file("wrong-designated", makeMachO(o));
    const TestPki pki;
    const QString untrusted =
        file("untrusted",
             makeMachO(signedMachO({&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}}, 100)));

    const QString textFile =
        file("req.txt", varko::testing::bytesOf("identifier com.example.varko // a comment\n"));
    const QString blobFile =
        file("req.bin", *varko::codesig::compileRequirement("identifier com.example.other"));
    const std::string A = a.toStdString();
    const std::string ownOfA = designatedOf(a), ownOfB = designatedOf(b);
    const std::string failed =
        "test-requirement: code failed to satisfy specified code requirement(s)\n";
    const struct {
        QStringList arguments;
        int status;
        std::string err;
    } cases[] = {
        {{"-v", a}, 0, ""},
        {{"--verify", "-v", a},
         0,
         A + ": valid on disk\n" + A + ": satisfies its Designated Requirement\n"},
        {{"-vv", "-R=identifier com.example.varko", a},
         0,
         A + ": valid on disk\n" + A + ": satisfies its Designated Requirement\n" + A +
             ": explicit requirement satisfied\n"},
        {{"-v", "-R", "=identifier com.example.other", a}, 3, failed},
        {{"-v", "--test-requirement=" + QString::fromStdString("=" + ownOfA), a}, 0, ""},
        {{"-v", "-R=" + QString::fromStdString(ownOfB), a}, 3, failed},
        {{"-v", "-R=" + QString::fromStdString(ownOfA), b}, 3, failed},
        {{"-v", "-R=" + QString::fromStdString(ownOfB), b}, 0, ""},
        {{"-v", "-R", textFile, a}, 0, ""},
        {{"-v", "-R", blobFile, a}, 3, failed},
        {{"-v", "-R", blobFile, b}, 0, ""},
        // What cannot be known here is not taken as satisfied.
        {{"-vv", "-R=notarized or identifier nothing", a},
         3,
         A + ": valid on disk\n" + A + ": satisfies its Designated Requirement\n" + A +
             ": note: not established: notarization cannot be checked offline\n" + failed},
        {{"-v", "-R=identifier", a},
         2,
         "varko-codesign: test requirement: line 1 column 11: unexpected end of text, expecting a "
         "name or a quoted string\n"},
        {{"-v", wrongDesignated},
         3,
         wrongDesignated.toStdString() + ": does not satisfy its designated Requirement\n"},
        {{"-v", bare}, 1, bare.toStdString() + ": code object is not signed at all\n"},
        // Only Apple's roots are anchors to the tool.
        {{"-v", untrusted}, 1, untrusted.toStdString() + ": CSSMERR_TP_NOT_TRUSTED\n"},
        {{"-d", "-v", "-R=always", a}, 2, ""},
        {{"-d", "--verify", a}, 2, ""},
        {{"-v", "-R=designated => always", a},
         2,
         "varko-codesign: test requirement: it is a requirement set, not one requirement\n"},
        {{"-v", "-R"}, 2, ""},
        {{"-v", "-R", dir.filePath("missing"), a}, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto r = codesign(c.arguments);
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        if (c.status != 2 || !c.err.empty()) {
            EXPECT_EQ(r.err.toStdString(), c.err);
        }
    }
    const auto modifiedRun = codesign({"-v", tampered});
    EXPECT_EQ(modifiedRun.status, 1);
    EXPECT_TRUE(modifiedRun.err.startsWith((tampered + ": invalid signature: ").toUtf8()))
        << modifiedRun.err.toStdString();
}

}  // namespace
