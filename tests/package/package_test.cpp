// Installer packages signed by the test authority: checksum, RSA and CMS signatures, chain.
#include <gtest/gtest.h>

#include <cstdio>

#include "fixtures/xarwriter.h"
#include "format/macho/bytesource.h"
#include "format/xar/xar.h"
#include "overview/datafile.h"
#include "package/packagesignature.h"
#include "signature/signingfixture.h"
#include "support/programrun.h"

using namespace varko;
using namespace varko::testing;
using Kind = spctl::PackageVerdict::Kind;

namespace {

constexpr const char* developerIdInstaller = "1.2.840.113635.100.6.1.14";

/// Why the package was not read or is not trusted; empty for a trusted one.
std::string why(const Expected<spctl::PackageVerdict>& v) {
    if (!v) return v.error().message;
    return v->check ? std::string() : v->check.error().message;
}

class PackageTest : public ::testing::Test {
protected:
    TestPki pki;
    QTemporaryDir dir;
    examplegen::TestIdentity installer =
        rsaLeaf("Developer ID Installer: Varko Tests (TEAM123456)");

    examplegen::TestIdentity rsaLeaf(const std::string& cn) {
        return examplegen::issueCertificate({.commonName = cn,
                                             .markers = {developerIdInstaller},
                                             .rsa = true,
                                             .notBefore = jan2020,
                                             .notAfter = jan2030},
                                            pki.intermediate);
    }
    std::filesystem::path write(const std::string& name, const std::vector<std::byte>& bytes) {
        const auto path = std::filesystem::path(dir.path().toStdString()) / name;
        EXPECT_TRUE(examplegen::writeFile(path, bytes));
        return path;
    }
    examplegen::XarSigning rsa() {
        return {&installer, {&installer, &pki.intermediate, &pki.root}, false, {}, 0};
    }
};

TEST_F(PackageTest, RsaAndCmsSignedPackagesAreTrustedUnderTheirRoot) {
    for (const char* style : {"sha1", "sha256"}) {
        const auto pkg = write("rsa.pkg", examplegen::makeXar("<file id=\"1\"/>", rsa(), style));
        auto v = spctl::verifyPackage(pkg, pki.anchors(), jan2024);
        ASSERT_TRUE(v) << why(v);
        EXPECT_EQ(v->kind, Kind::Trusted) << style << ": " << why(v);
        EXPECT_EQ(v->authority, signing::Authority::DeveloperId);
        ASSERT_EQ(v->chain.size(), 3u);
        EXPECT_EQ(v->chain[0].commonName, "Developer ID Installer: Varko Tests (TEAM123456)");
        v = spctl::verifyPackage(pkg, signing::TrustAnchors::apple(), jan2024);
        ASSERT_TRUE(v) << why(v);
        EXPECT_EQ(v->kind, Kind::Untrusted);
        EXPECT_EQ(why(v), "CSSMERR_TP_NOT_TRUSTED");
        EXPECT_EQ(v->check.error().code, ErrorCode::untrusted);
    }
    examplegen::XarSigning cms = rsa();
    cms.cms = true;
    cms.cmsRequest.signer = &installer;
    cms.cmsRequest.chain = {&installer, &pki.intermediate, &pki.root};
    cms.cmsRequest.signingTime = jan2024;
    cms.cmsRequest.timestampAuthority = &pki.tsa;
    cms.cmsRequest.timestampTime = jan2024;
    cms.cmsReserve = 8000;
    const auto v = spctl::verifyPackage(write("cms.pkg", examplegen::makeXar("", cms)),
                                        pki.anchors(), jan2040 - 10);
    ASSERT_TRUE(v) << why(v);
    EXPECT_EQ(v->kind, Kind::Trusted) << why(v);  // the timestamp vouches for the expired leaf
    EXPECT_EQ(v->timestamp, jan2024);
}

// The program trusts only Apple's roots, so the test authority's package is untrusted,
// yet its chain is listed as pkgutil lists it.
TEST_F(PackageTest, PkgutilListsTheChainItCouldNotTrust) {
    const auto pkg = write("Tool.pkg", examplegen::makeXar("<file id=\"1\"/>", rsa(), "sha256"));
    const ProgramRun r =
        runTool("varko-pkgutil", {"--check-signature", QString::fromStdString(pkg.string())});
    EXPECT_EQ(r.status, 1);

    const auto entry = [](int n, const std::string& name, const examplegen::TestIdentity& id,
                          const char* expires) {
        std::string out = "    " + std::to_string(n) + ". " + name +
                          "\n       Expires: " + expires + "\n       SHA256 Fingerprint:\n";
        const auto fp = examplegen::fingerprint(id);
        for (std::size_t i = 0; i < fp.size(); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", fp[i]);
            out += (i % 22 == 0 ? (i ? "\n           " : "           ") : " ") + std::string(hex);
        }
        return out + "\n";
    };
    const std::string rule = "       " + std::string(72, '-') + "\n";
    const std::string expected =
        "Package \"Tool.pkg\":\n   Status: signed by untrusted certificate\n   Certificate "
        "Chain:\n" +
        entry(1, "Developer ID Installer: Varko Tests (TEAM123456)", installer,
              "2030-01-01 00:00:00 +0000") +
        rule +
        entry(2, "Varko Test Developer ID CA", pki.intermediate, "2040-01-01 00:00:00 +0000") +
        rule + entry(3, "Varko Test Root CA", pki.root, "2040-01-01 00:00:00 +0000") + "\n";
    EXPECT_EQ(r.out.toStdString(), expected);
}

TEST_F(PackageTest, ChangedTocOrSignatureIsInvalid) {
    auto bytes = examplegen::makeXar("<file id=\"1\"/>", rsa());
    auto toc = bytes;
    toc[40] = std::byte(std::to_integer<int>(toc[40]) ^ 1);  // inside the compressed TOC
    const auto v = spctl::verifyPackage(write("toc.pkg", toc), pki.anchors(), jan2024);
    EXPECT_TRUE(!v || v->kind == Kind::Invalid) << why(v);
    auto sig = bytes;
    sig[sig.size() - 5] = std::byte(std::to_integer<int>(sig[sig.size() - 5]) ^ 1);
    auto sum = bytes;
    sum.resize(sum.size() - 256);  // the heap ends before the signature
    const struct {
        const char* name;
        std::vector<std::byte> bytes;
        std::string message;
        ErrorCode code;
    } cases[] = {
        {"sig.pkg", sig, "the signature does not verify", ErrorCode::invalidSignature},
        {"short.pkg", sum, "the signature lies outside the archive", ErrorCode::truncated},
    };
    for (const auto& c : cases) {
        const auto changed = spctl::verifyPackage(write(c.name, c.bytes), pki.anchors(), jan2024);
        ASSERT_TRUE(changed) << c.name << ": " << why(changed);
        EXPECT_EQ(changed->kind, Kind::Invalid) << c.name;
        EXPECT_EQ(why(changed), c.message);
        EXPECT_EQ(changed->check.error().code, c.code) << c.name;
    }
}

TEST_F(PackageTest, HostileHeadersAndTablesGiveClearErrors) {
    for (const auto& c : dataCases("xar-headers.txt")) {
        Bytes b(28 + 64);
        if (c[1].startsWith("zeros ")) {
            b.assign(c[1].mid(6).toUInt(), std::byte{0});
        } else {
            putBE32(b, 0, 0x78617221);                              // "xar!"
            putBE32(b, 4, std::uint32_t(c[1].toUInt()) << 16 | 1);  // then version 1
            putBE64(b, 8, c[2].toULongLong());
            putBE64(b, 16, c[3].toULongLong());
        }
        const macho::MemorySource source(b);
        const auto a = xar::Archive::open(source);
        ASSERT_FALSE(a) << c[0].data();
        EXPECT_EQ(a.error().message, "malformed xar archive (" + c[4].toStdString() + ")")
            << c[0].data();
    }

    // A table within the size bounds whose XML has more nodes than any real package's:
    // counted before the parser builds them. Varied values keep it from compressing away.
    std::string files;
    for (std::uint64_t i = 0; i <= xar::maxTocNodes / 2; ++i)
        files += "<f n=\"" + std::to_string(i * 2654435761u % 1000003) + "\"/>";
    const auto many = examplegen::makeXar(files, std::nullopt);
    const macho::MemorySource source(many);
    const auto a = xar::Archive::open(source);
    ASSERT_FALSE(a);
    EXPECT_EQ(a.error().message, "malformed xar archive (the table of contents has more than " +
                                     std::to_string(xar::maxTocNodes) +
                                     " elements and attributes)");
}

}  // namespace
