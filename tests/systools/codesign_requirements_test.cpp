// varko-codesign -d -r: the internal requirements as text, and the designated requirement
// the platform makes up when the signature holds none; and --verify: codesign's words and exit
// statuses for valid, modified and unsigned code, its own designated requirement, and a test
// requirement given with -R.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "fixtures/machowriter.h"
#include "fixtures/testsigning.h"
#include "format/codesig/requirement.h"
#include "support/bytes.h"
#include "support/programrun.h"

using namespace varko::examplegen;

namespace {

using Bytes = std::vector<std::byte>;

std::string sha1(const TestIdentity& id) {
    unsigned char out[SHA_DIGEST_LENGTH];
    SHA1(id.certificate.data(), id.certificate.size(), out);
    return QByteArray(reinterpret_cast<const char*>(out), sizeof out).toHex().toStdString();
}

class CodesignRequirementsTest : public ::testing::Test {
protected:
    QString write(const QString& name, const Bytes& bytes) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeFile(path.toStdString(), bytes, true));
        return path;
    }
    static std::string requirementsOf(const QString& path) {
        const auto r = varko::testing::runTool("varko-codesign", {"-d", "-r-", path});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        return r.out.toStdString();
    }
    static std::string cdhashOf(const QString& path, const QString& arch) {
        const auto r = varko::testing::runTool("varko-codesign", {"-dvvv", "-a", arch, path});
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

TEST_F(CodesignRequirementsTest, AdHocCodeIsDesignatedByEverySlicesCdhash) {
    MachOOptions o;
    o.arch = Arch::X86_64;
    const Bytes intel = makeMachO(o);
    o.arch = Arch::Arm64;
    const Bytes arm = makeMachO(o);
    const QString thin = write("thin", intel);
    EXPECT_EQ(requirementsOf(thin),
              "# designated => cdhash H\"" + cdhashOf(thin, "x86_64") + "\"\n");
    // The slice shown first, then the others by CPU type.
    const QString fat = write("fat", makeUniversal(std::vector{intel, arm}));
    EXPECT_EQ(requirementsOf(fat), "# designated => cdhash H\"" + cdhashOf(fat, "arm64") +
                                       "\" or cdhash H\"" + cdhashOf(fat, "x86_64") + "\"\n");
}

TEST_F(CodesignRequirementsTest, ExplicitRequirementsPrintAsTheyAreAndStandInForTheImplicit) {
    MachOOptions o;
    o.signature->requirementSet = *varko::codesig::compileRequirement(
        "designated => identifier tool and anchor apple\nlibrary => always");
    const QString designated = write("designated", makeMachO(o));
    EXPECT_EQ(requirementsOf(designated),
              "designated => identifier tool and anchor apple\nlibrary => always\n");

    o.signature->requirementSet = *varko::codesig::compileRequirement("host => always");
    const QString hostOnly = write("host", makeMachO(o));
    EXPECT_EQ(requirementsOf(hostOnly),
              "host => always\n# designated => cdhash H\"" + cdhashOf(hostOnly, "arm64") + "\"\n");

    // -r PATH writes the same text to the file.
    const QString out = dir.filePath("requirements.txt");
    ASSERT_EQ(
        varko::testing::runTool("varko-codesign", {"--display", "-r", out, designated}).status, 0);
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "designated => identifier tool and anchor apple\nlibrary => always\n");

    // A designated requirement whose program is a lone "and".
    o.signature->requirementSet = *varko::codesig::compileRequirement("designated => always");
    o.signature->requirementSet->back() = std::byte{6};
    const auto broken =
        varko::testing::runTool("varko-codesign", {"-d", "-r-", write("broken", makeMachO(o))});
    EXPECT_EQ(broken.status, 1);
    EXPECT_TRUE(
        broken.err.contains(": invalid or corrupted code requirement(s) (it ends inside "
                            "an expression)\n"))
        << broken.err.toStdString();
}

TEST_F(CodesignRequirementsTest, SignedCodeIsDesignatedByTheHighestCertificateOfItsOrganization) {
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
        const QString path = write(c.name, makeMachO(signedMachO(c.with, 100)));
        EXPECT_EQ(requirementsOf(path),
                  "# designated => identifier \"com.example.varko.signed\" and certificate " +
                      c.anchor + "\"\n");
    }
}

TEST_F(CodesignRequirementsTest, VerifyGivesTheStatusesAndWordsCodesignGives) {
    MachOOptions o;
    const QString a = write("a", makeMachO(o));
    o.codeSize += 4096;
    o.signature->identifier = "com.example.other";
    const QString b = write("b", makeMachO(o));
    Bytes modified = makeMachO(o);
    modified[modified.size() / 4] ^= std::byte{1};
    const QString tampered = write("tampered", modified);
    MachOOptions unsignedCode;
    unsignedCode.signature.reset();
    const QString bare = write("bare", makeMachO(unsignedCode));
    o.signature->requirementSet = *varko::codesig::compileRequirement("designated => identifier x");
    const QString wrongDesignated = write("wrong-designated", makeMachO(o));
    const TestPki pki;
    const QString untrusted =
        write("untrusted",
              makeMachO(signedMachO({&pki.leaf, {&pki.leaf, &pki.intermediate, &pki.root}}, 100)));

    const QString textFile =
        write("req.txt", varko::testing::bytesOf("identifier com.example.varko // a comment\n"));
    const QString blobFile =
        write("req.bin", *varko::codesig::compileRequirement("identifier com.example.other"));
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
        const auto r = varko::testing::runTool("varko-codesign", c.arguments);
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        if (c.status != 2 || !c.err.empty()) {
            EXPECT_EQ(r.err.toStdString(), c.err);
        }
    }
    const auto modifiedRun = varko::testing::runTool("varko-codesign", {"-v", tampered});
    EXPECT_EQ(modifiedRun.status, 1);
    EXPECT_TRUE(modifiedRun.err.startsWith((tampered + ": invalid signature: ").toUtf8()))
        << modifiedRun.err.toStdString();
}

}  // namespace
