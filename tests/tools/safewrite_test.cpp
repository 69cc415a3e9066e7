#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "tools/safewrite.h"

namespace varko {
namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST(SafeWrite, ReplacesAFileWhole) {
    QTemporaryDir dir;
    // Names up to the 255 bytes a file system allows: the temporary one must fit as well.
    for (const QString& name : {QStringLiteral("report.text"), QString(250, u'r') + ".text"}) {
        SCOPED_TRACE(name.size());
        const QString path = dir.filePath(name);
        ASSERT_TRUE(host::writeFileAtomically(path, "old", 3));
        ASSERT_TRUE(host::writeFileAtomically(path, "new text", 8));
        EXPECT_EQ(contents(path), "new text");
        // Nothing of the temporary file stays behind.
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
        QFile::remove(path);
    }
}

TEST(SafeWrite, NeverPutsAFileInPlaceOfAFifo) {
    QTemporaryDir dir;
    const QString path = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const Expected<void> written = host::writeFileAtomically(path, "x", 1);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, ErrorCode::refused);
    EXPECT_EQ(written.error().message, "Not a regular file");
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"pipe"});
}

}  // namespace
}  // namespace varko
