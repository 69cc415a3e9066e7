// varko-codesign as a program on bundles signed by the test authority.
#include <gtest/gtest.h>

#include "signature/signingfixture.h"
#include "support/programrun.h"

using namespace varko::testing;

namespace {

TEST(SignedBundleTest, CodesignShowsAuthoritiesAndTheTimestampInThePlatformsOrder) {
    TestPki pki;
    QTemporaryDir dir;
    SignWith w{&pki.leaf,
               {&pki.leaf, &pki.intermediate, &pki.root},
               &pki.tsa,
               jan2024,
               jan2024 + 13 * 3600 + 62};
    const auto app = QString::fromStdString(signedBundle(dir, "Shown", w).string());
    const ProgramRun r = runTool("varko-codesign", {"-dvvv", app});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.err).split('\n');
    const auto at = [&](const QString& prefix) {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith(prefix)) return i;
        return -1;
    };
    EXPECT_LT(at("Hash choices="), at("CMSDigest="));
    EXPECT_LT(at("CMSDigestType="), at("CDHash="));
    EXPECT_LT(at("CDHash="), at("Signature size="));
    const int first = at("Authority=");
    ASSERT_GT(first, at("Signature size="));
    EXPECT_EQ(lines.mid(first, 5).join('\n'),
              "Authority=Developer ID Application: Varko Tests (TEAM123456)\n"
              "Authority=Varko Test Developer ID CA\nAuthority=Varko Test Root CA\n"
              "Timestamp=Jan 1, 2024 at 1:01:02 PM\nInfo.plist entries=2");
    EXPECT_TRUE(r.err.contains("TeamIdentifier=TEAM123456\n"));
    EXPECT_TRUE(r.err.contains("Sealed Resources version=2 rules=13 files=3\n"))
        << r.err.toStdString();

    SignWith untimed = w;
    untimed.tsa = nullptr;
    const auto plain = QString::fromStdString(signedBundle(dir, "Plain", untimed).string());
    EXPECT_TRUE(runTool("varko-codesign", {"-dvvv", plain})
                    .err.contains("\nSigned Time=Jan 1, 2024 at 12:00:00 AM\n"));
}

}  // namespace
