// The stand-ins on real signed files from the npm registry, fetched and pinned by
// scripts/fetch-fixtures.sh into the build folder. Real files decide every format fact.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace {

const QString cache = QStringLiteral(VARKO_BIN_DIR "/../fixtures");

struct ToolResult {
    int status = -1;
    QString out, err;
};

ToolResult run(const QString& program, const QStringList& arguments) {
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", "UTC");
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    ToolResult r;
    if (!p.waitForFinished(180000)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

class RealWorldTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The data folder need not exist, so the path is resolved by text, not by the kernel.
        fetched = run("/bin/sh", {QDir::cleanPath(VARKO_TEST_DATA "/../../../scripts/fetch-fixtures.sh"), cache});
    }
    void SetUp() override {
        if (fetched.status == 2) GTEST_SKIP() << "the npm registry cannot be reached: " << fetched.err.toStdString();
        ASSERT_EQ(fetched.status, 0) << fetched.err.toStdString();
    }
    static QString file(const char* relative) { return cache + "/" + relative; }
    static ToolResult codesign(const QStringList& arguments) { return run(VARKO_BIN_DIR "/varko-codesign", arguments); }
    static ToolResult spctl(const QString& path) { return run(VARKO_BIN_DIR "/varko-spctl", {"-a", "-vv", path}); }
    static inline ToolResult fetched;
};

TEST_F(RealWorldTest, SentryCliIsDeveloperIdWithHardenedRuntimeAndATimestamp) {
    const QString exe = file("_sentry_cli-darwin_3.8.0/package/bin/sentry-cli");
    const auto r = codesign({"-dvvv", "-a", "x86_64", exe});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    for (const char* line : {"Identifier=sentry-cli-Darwin-universal\n", "Format=Mach-O universal (x86_64 arm64)\n",
                             "flags=0x10000(runtime) hashes=3631+7 location=embedded\n",
                             "CDHash=fcd45ae42c5190bdde8c0709168c2286074aadeb\n",
                             "CMSDigest=fcd45ae42c5190bdde8c0709168c2286074aadeb7bed502819d422855c963b37\n",
                             "Signature size=8970\n"
                             "Authority=Developer ID Application: GetSentry LLC (97JCY7859U)\n"
                             "Authority=Developer ID Certification Authority\n"
                             "Authority=Apple Root CA\n"
                             "Timestamp=Sep 16, 2026 at 2:16:56 PM\n",
                             "TeamIdentifier=97JCY7859U\n", "Runtime Version=26.5.0\n"})
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(line))) << line << "\n" << r.err.toStdString();
    const auto arm = codesign({"-dvvv", "-a", "arm64", exe});
    EXPECT_TRUE(arm.err.contains("Authority=Apple Root CA\n")) << arm.err.toStdString();

    // Apple's root and the timestamp both check out; Gatekeeper still turns away a bare tool.
    const auto v = spctl(exe);
    EXPECT_EQ(v.status, 3);
    EXPECT_TRUE(v.err.startsWith(exe + ": rejected (the code is valid but does not seem to be an app)\n"
                                       "origin=Developer ID Application: GetSentry LLC (97JCY7859U)\n"))
        << v.err.toStdString();
}

TEST_F(RealWorldTest, EsbuildIsAdHocAndLinkerSigned) {
    const QString exe = file("_esbuild_darwin-arm64_0.28.2/package/bin/esbuild");
    const auto r = codesign({"-dvvv", exe});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    for (const char* line : {"Identifier=a.out\n", "Format=Mach-O thin (arm64)\n",
                             "flags=0x20002(adhoc,linker-signed) hashes=2566+0",
                             "CDHash=faf804ab3def337a0e99314b6092ef431c3d7ab5\n", "Signature=adhoc\n",
                             "TeamIdentifier=not set\n", "Internal requirements=none\n"})
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(line))) << line << "\n" << r.err.toStdString();
    EXPECT_EQ(spctl(exe).err, exe + ": rejected\nsource=no usable signature\n");

    // Asking for a slice that is not there must not show another one instead.
    const auto intel = codesign({"-dvvv", "-a", "x86_64", exe});
    EXPECT_EQ(intel.status, 1);
    EXPECT_EQ(intel.err, exe + ": the executable has no code for architecture x86_64\n");
}

TEST_F(RealWorldTest, FseventsHasAnUnsignedAndAnAdHocSlice) {
    const QString node = file("fsevents_2.3.3/package/fsevents.node");
    const auto intel = codesign({"-dvvv", "-a", "x86_64", node});
    EXPECT_EQ(intel.status, 1);
    EXPECT_EQ(intel.err, node + ": code object is not signed at all\n");
    const auto arm = codesign({"-dvvv", "-a", "arm64", node});
    ASSERT_EQ(arm.status, 0) << arm.err.toStdString();
    EXPECT_TRUE(arm.err.contains("Signature=adhoc\n")) << arm.err.toStdString();
    EXPECT_TRUE(arm.err.contains("Identifier=fsevents.node\n")) << arm.err.toStdString();
    EXPECT_TRUE(arm.err.contains("CDHash=8c4bc119d234ef99eb186d1f92dc1882732fda60\n")) << arm.err.toStdString();
    EXPECT_TRUE(arm.err.contains("Format=Mach-O universal (x86_64 arm64)\n")) << arm.err.toStdString();
}

}  // namespace
