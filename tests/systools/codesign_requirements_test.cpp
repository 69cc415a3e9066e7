// varko-codesign -d -r: the internal requirements as text, and the designated requirement
// the platform makes up when the signature holds none.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "fixtures/machowriter.h"
#include "fixtures/testsigning.h"
#include "format/codesig/requirement.h"
#include "support/programrun.h"

using namespace varko::examplegen;
using varko::codesig::RequirementMaker;

namespace {

using Bytes = std::vector<std::byte>;

Bytes requirementSet(const std::vector<std::pair<std::uint32_t, Bytes>>& entries) {
    Bytes index, blobs;
    const auto put = [](Bytes& b, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(std::byte(v >> shift));
    };
    const auto start = static_cast<std::uint32_t>(12 + 8 * entries.size());
    for (const auto& [type, blob] : entries) {
        put(index, type);
        put(index, start + static_cast<std::uint32_t>(blobs.size()));
        blobs.insert(blobs.end(), blob.begin(), blob.end());
    }
    Bytes set;
    for (const auto v :
         {varko::codesig::CSMAGIC_REQUIREMENTS, start + static_cast<std::uint32_t>(blobs.size()),
          static_cast<std::uint32_t>(entries.size())})
        put(set, v);
    set.insert(set.end(), index.begin(), index.end());
    set.insert(set.end(), blobs.begin(), blobs.end());
    return set;
}

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
    const auto tool = RequirementMaker()
                          .word(varko::codesig::opAnd)
                          .word(varko::codesig::opIdent)
                          .text("tool")
                          .word(varko::codesig::opAppleAnchor)
                          .make();
    const auto always = RequirementMaker().word(varko::codesig::opTrue).make();
    o.signature->requirementSet = requirementSet({{3, tool}, {4, always}});
    const QString designated = write("designated", makeMachO(o));
    EXPECT_EQ(requirementsOf(designated),
              "designated => identifier tool and anchor apple\nlibrary => always\n");

    o.signature->requirementSet = requirementSet({{1, always}});
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

    o.signature->requirementSet = requirementSet({{3, RequirementMaker().word(6).make()}});
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

}  // namespace
