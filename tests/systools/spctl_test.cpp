// varko-spctl run as a program: its verdicts on generated code and packages.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "fixtures/exampleapp.h"
#include "fixtures/machowriter.h"
#include "fixtures/xarwriter.h"
#include "support/files.h"
#include "support/programrun.h"

namespace {

struct Verdict {
    int status = -1;
    QString err;
};

Verdict spctl(const QStringList& arguments) {
    const auto r = varko::testing::runTool("varko-spctl", arguments);
    return {r.status, QString::fromUtf8(r.err)};
}

void patch(const QString& path, qint64 offset, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(offset));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

/// An unsigned package whose table of contents holds `files`.
QByteArray xar(const std::string& files) {
    const auto bytes = varko::examplegen::makeXar(files, std::nullopt);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

class SpctlTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(varko::testing::writeFile(dir.filePath(name), bytes));
        return dir.filePath(name);
    }
    QString example() {
        EXPECT_TRUE(varko::examplegen::writeExampleApp(dir.path().toStdString()));
        return dir.filePath("Example.app");
    }
    QTemporaryDir dir;
};

TEST_F(SpctlTest, AdHocCodeThatMatchesItsSignatureIsRejectedWithoutAReason) {
    const QString app = example();
    const Verdict v = spctl({"-a", "-vv", app});
    EXPECT_EQ(v.status, 3);
    EXPECT_EQ(v.err, app + ": rejected\nsource=no usable signature\n");
}

TEST_F(SpctlTest, ChangedCodeOrInfoPlistIsAnInvalidSignature) {
    {
        varko::examplegen::MachOOptions o;
        o.codeSize = 8192;
        const auto bytes = varko::examplegen::makeMachO(o);
        const QString exe = write(
            "tool", QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
        EXPECT_EQ(spctl({"-a", exe}).status, 3);
        // The code follows the header (32 bytes) and the load commands (their size at 20).
        const auto sizeofcmds = std::to_integer<int>(bytes[20]) | std::to_integer<int>(bytes[21])
                                                                      << 8;
        patch(exe, 32 + sizeofcmds + 4096, "\x90");
        const Verdict v = spctl({"-a", "-vv", exe});
        EXPECT_EQ(v.status, 3);
        EXPECT_TRUE(v.err.startsWith(
            exe + ": rejected (invalid signature: page 1 of the code does not match"))
            << v.err.toStdString();
    }
    {
        const QString app = example();
        patch(app + "/Contents/Info.plist", 60, "x");
        const Verdict v = spctl({"-a", "-vv", app});
        EXPECT_EQ(v.status, 3);
        EXPECT_TRUE(v.err.contains(
            "rejected (invalid Info.plist (plist or signature have been modified) (x86_64 slice))"))
            << v.err.toStdString();
    }
    {
        // Ad hoc code is no excuse for a broken bundle: that is named too.
        const QString app = example();
        write("Example.app/README.txt", "unsealed");
        const Verdict v = spctl({"-a", "-vv", app});
        EXPECT_EQ(v.err,
                  app +
                      ": rejected (unsealed contents present in the bundle root (README.txt))\n"
                      "source=no usable signature\n");
    }
}

TEST_F(SpctlTest, PackagesWithAndWithoutSignatureAndBrokenOnes) {
    const QString unsigned_ = write("u.pkg", xar("<file id=\"1\"/>"));
    Verdict v = spctl({"-a", "-vv", "-t", "install", unsigned_});
    EXPECT_EQ(v.status, 3);
    EXPECT_EQ(v.err, unsigned_ + ": rejected\nsource=no usable signature\n");

    const QString signed_ = write("s.pkg", xar("<signature style=\"RSA\"/>"));
    v = spctl({"-a", "-vv", "-t", "install", signed_});
    EXPECT_EQ(v.status, 1);  // a signature that says not where it is: broken, never "accepted"
    EXPECT_EQ(v.err, signed_ + ": malformed xar archive (the signature has no offset or size)\n");

    QByteArray huge = xar("");  // its table of contents said to be a terabyte
    huge.replace(16, 8, QByteArray::fromHex("0000010000000000"));
    for (const QByteArray& broken :
         {QByteArray("not a package at all, but long enough"), huge, xar("").left(40)}) {
        const QString path = write("b.pkg", broken);
        v = spctl({"-a", "-t", "install", path});
        EXPECT_EQ(v.status, 1) << v.err.toStdString();
        EXPECT_TRUE(v.err.startsWith(path + ": ")) << v.err.toStdString();
    }
}

TEST_F(SpctlTest, PkgutilSaysWhetherAPackageIsSignedAndNeverVouches) {
    const auto check = [](const QString& pkg) {
        const auto r = varko::testing::runTool("varko-pkgutil", {"--check-signature", pkg});
        return std::pair(r.status, QString::fromUtf8(r.out + r.err));
    };
    const auto [status, text] = check(write("Tool.pkg", xar("")));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, "Package \"Tool.pkg\":\n   Status: no signature\n");
    const auto [signedStatus, signedText] = check(write("S.pkg", xar("<signature/>")));
    EXPECT_EQ(signedStatus, 1);
    EXPECT_FALSE(signedText.contains("trusted") || signedText.contains("Apple"))
        << signedText.toStdString();
    EXPECT_EQ(check(write("n.pkg", "plain text")).first, 1);
}

TEST_F(SpctlTest, UnsignedCodeAndBadArguments) {
    EXPECT_EQ(spctl({"-a", dir.filePath("missing.app")}).err,
              dir.filePath("missing.app") + ": No such file or directory\n");
    EXPECT_EQ(spctl({"-a", "-t", "bogus", "x"}).status, 2);
    EXPECT_EQ(spctl({"x"}).status, 2);
}

}  // namespace
