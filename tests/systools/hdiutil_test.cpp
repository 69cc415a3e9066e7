// varko-hdiutil's answers: what it refuses before any tool runs, and how it drives
// udisks, here a fake udisksctl on PATH that records its calls.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <fstream>

#include "support/childprocess.h"
#include "support/files.h"

namespace {

struct Answer {
    int status = -1;  ///< -1 when it crashed or ran past its time
    QByteArray out, err;
};

class HdiutilTest : public ::testing::Test {
protected:
    varko::testing::TemporaryDir dir;
    QString tools = dir.filePath("tools");

    void SetUp() override { ASSERT_TRUE(QDir().mkpath(tools)); }

    /// Runs `varko-hdiutil attach IMAGE` with only the fake tools' folder on PATH; the
    /// image's name goes as bytes, so it need not be UTF-8.
    Answer attach(const QByteArray& image) {
        const varko::testing::Finished run = varko::testing::runProgram(
            {{VARKO_BIN_DIR "/varko-hdiutil", "attach", image.toStdString()},
             {"PATH=" + tools.toStdString()},
             {},
             false});
        return {run.status, QByteArray::fromStdString(run.out), QByteArray::fromStdString(run.err)};
    }
    Answer attach(const QString& image) { return attach(image.toUtf8()); }

    /// A udisksctl that logs its arguments and answers each verb as `cases` says.
    void fakeUdisks(const QByteArray& cases) {
        ASSERT_TRUE(varko::testing::writeFile(
            tools + "/udisksctl", "#!/bin/sh\necho \"$*\" >> '" + dir.filePath("calls").toUtf8() +
                                      "'\ncase \"$1\" in\n" + cases + "\nesac\n"));
        QFile::setPermissions(tools + "/udisksctl",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    [[nodiscard]] QStringList calls() const {
        if (!QFile::exists(dir.filePath("calls"))) return {};
        return QString::fromUtf8(varko::testing::readFile(dir.filePath("calls")))
            .split('\n', Qt::SkipEmptyParts);
    }

    QString image(const QString& name, QByteArray bytes) {
        EXPECT_TRUE(varko::testing::writeFile(dir.filePath(name), bytes));
        return dir.filePath(name);
    }
};

constexpr const char* mapped = "loop-setup) echo \"Mapped file $3 as /dev/loop7.\";;";

TEST_F(HdiutilTest, WhatCannotBeAttachedIsRefusedBeforeUdisksRuns) {
    fakeUdisks(QByteArray(mapped));
    QByteArray koly(512, '\0');
    koly.replace(0, 4, "koly");
    qToBigEndian<quint32>(4, koly.data() + 4);
    qToBigEndian<quint32>(512, koly.data() + 8);
    const QString udif = image("Installer.dmg", QByteArray(4096, 'x') + koly);
    // A name that is not UTF-8 still names the file.
    const std::string oddName = QFile::encodeName(dir.path()).toStdString() + "/Inst\xff.dmg";
    std::ofstream(oddName, std::ios::binary) << (QByteArray(4096, 'x') + koly).toStdString();

    const Answer missing = attach(dir.filePath("gone.dmg"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "hdiutil: attach failed - No such file or directory\n");

    const Answer folder = attach(dir.path());
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err, "hdiutil: attach failed - not a disk image file\n");

    const Answer apple = attach(udif);
    EXPECT_EQ(apple.status, 1);
    EXPECT_TRUE(apple.err.startsWith(
        "hdiutil: attach failed - this is an Apple disk image (UDIF). Its blocks are kept in "
        "Apple's own chunk table"))
        << apple.err.toStdString();
    EXPECT_TRUE(apple.err.contains("it cannot be mounted here")) << apple.err.toStdString();
    EXPECT_TRUE(apple.out.isEmpty());
    EXPECT_EQ(attach(QByteArray::fromStdString(oddName)).err, apple.err);
    EXPECT_TRUE(calls().isEmpty()) << calls().join('\n').toStdString();
}

TEST_F(HdiutilTest, WithoutUdisksItSaysWhatIsMissing) {
    const Answer a = attach(image("disk.img", QByteArray(4096, '\0')));
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.err,
              "hdiutil: attach failed - udisksctl was not found. Attaching a disk image without "
              "root needs udisks (the Debian package udisks2) and its daemon.\n");
}

TEST_F(HdiutilTest, AttachesReadOnlyThroughUdisksAndPrintsHdiutilsTable) {
    fakeUdisks(QByteArray(mapped) + "\nmount) echo \"Mounted $3 at /media/me/Volume One\";;");
    // The output names the image first, and an image's path may itself hold " as /dev/".
    ASSERT_TRUE(QDir(dir.path()).mkpath("a as /dev"));
    const QString raw = image("a as /dev/sda.img", QByteArray(4096, '\0'));
    const Answer a = attach(raw);
    EXPECT_EQ(a.status, 0) << a.err.toStdString();
    EXPECT_EQ(a.out, "/dev/loop7          \t" + QByteArray(31, ' ') + "\t/media/me/Volume One\n");
    EXPECT_EQ(calls(),
              (QStringList{"loop-setup --file " + raw + " --read-only --no-user-interaction",
                           "mount -b /dev/loop7 --no-user-interaction"}));
}

TEST_F(HdiutilTest, AnImageWithNothingToMountIsDetachedWithUdisksReason) {
    fakeUdisks(QByteArray(mapped) +
               "\nmount) echo 'Error mounting /dev/loop7: wrong fs type' >&2; exit 1;;");
    const Answer a = attach(image("blank.img", QByteArray(4096, '\0')));
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.err,
              "hdiutil: attach failed - no mountable file systems\n"
              "Error mounting /dev/loop7: wrong fs type\n");
    EXPECT_EQ(calls().last(), "loop-delete -b /dev/loop7 --no-user-interaction");

    fakeUdisks(
        "loop-setup) echo 'Error setting up loop device for x: Not authorized' >&2; exit 1;;");
    const Answer refused = attach(dir.filePath("blank.img"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "hdiutil: attach failed - Error setting up loop device for x: Not authorized\n");
}

}  // namespace
