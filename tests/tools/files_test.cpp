// Files by name and whole: paths as the system's bytes, and writes that replace a file whole.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "support/files.h"
#include "tools/pathbytes.h"
#include "tools/safewrite.h"
#include "tools/utf8.h"

namespace varko {
namespace {

using testing::readFile;

TEST(SafeWrite, ReplacesAFileWhole) {
    QTemporaryDir dir;
    // Names up to the 255 bytes a file system allows: the temporary one must fit as well.
    for (const QString& name : {QStringLiteral("report.text"), QString(250, u'r') + ".text"}) {
        SCOPED_TRACE(name.size());
        const QString path = dir.filePath(name);
        ASSERT_TRUE(host::writeFileAtomically(path, "old", 3));
        ASSERT_TRUE(host::writeFileAtomically(path, "new text", 8));
        EXPECT_EQ(readFile(path), "new text");
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

TEST(PathBytesTest, EveryByteStringComesBackExactly) {
    const QByteArray cases[] = {
        "/Applications/Plain.app",
        "/t/caf\xc3\xa9 \xf0\x9f\x98\x80.app",  // valid two- and four-byte sequences
        "\xff\xfe\x80\xbf",                     // bytes that never start UTF-8
        "\xc0\xaf \xe0\x80\xaf",                // overlong forms of '/'
        "\xed\xa0\x80\xed\xb2\x80",             // encoded surrogates
        "\xf4\x90\x80\x80",                     // past U+10FFFF
        "\xe2\x82",                             // cut short at the end
        "\xc3(",                                // a lead byte without its continuation
    };
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        const QString path = host::pathFromSystem(bytes);
        EXPECT_EQ(host::pathToSystem(path), bytes);
    }
    QByteArray all;
    for (int b = 1; b < 256; ++b) all += char(b);
    EXPECT_EQ(host::pathToSystem(host::pathFromSystem(all)), all);
    // Valid text is decoded as Qt decodes it, so ordinary paths compare as before.
    EXPECT_EQ(host::pathFromSystem(cases[1]), QString::fromUtf8(cases[1]));
}

TEST(PathBytesTest, TextConvertsAsQtConvertsIt) {
    // Every character of the first plane, some beyond it, and lone surrogates outside the
    // range that stands for stray bytes: what the user types must reach the system as Qt
    // would have written it, and come back as Qt reads it.
    QString text;
    for (char32_t c = 1; c < 0x10000; ++c)
        if (!QChar::isSurrogate(c)) text += QChar(char16_t(c));
    for (const char32_t c : {0x10000U, 0x1F600U, 0x10FFFFU}) text += QString::fromUcs4(&c, 1);
    EXPECT_EQ(host::pathToSystem(text), text.toUtf8());
    EXPECT_EQ(host::pathFromSystem(text.toUtf8()), text);
    for (const char16_t lone : {u'\xD800', u'\xDBFF', u'\xDC00', u'\xDC7F', u'\xDFFF'}) {
        const QString odd = QStringLiteral("a") + QChar(lone) + QStringLiteral("b");
        EXPECT_EQ(host::pathToSystem(odd), odd.toUtf8());
    }
}

TEST(PathBytesTest, StrayBytesShowAsEscapesAndRealCharactersStay) {
    EXPECT_EQ(host::visibleControls(host::pathFromSystem("/t/\xff.app")), "/t/\\xFF.app");
    // U+10080 is written with the low surrogate DC80: a character, not a stray byte.
    const QString supplementary = QString::fromUtf8("\xf0\x90\x82\x80");
    EXPECT_EQ(host::visibleControls(supplementary), supplementary);
    EXPECT_EQ(host::visibleControls(u"a\tb\x7f\u202e"), QString::fromUtf8("a\xe2\x90\x89"
                                                                          "b\xe2\x90\xa1<U+202E>"));
}

}  // namespace
}  // namespace varko
