#include <gtest/gtest.h>

#include "tools/pathbytes.h"
#include "tools/utf8.h"

using namespace varko::host;

namespace {

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
        const QString path = pathFromSystem(bytes);
        EXPECT_EQ(pathToSystem(path), bytes);
    }
    QByteArray all;
    for (int b = 1; b < 256; ++b) all += char(b);
    EXPECT_EQ(pathToSystem(pathFromSystem(all)), all);
    // Valid text is decoded as Qt decodes it, so ordinary paths compare as before.
    EXPECT_EQ(pathFromSystem(cases[1]), QString::fromUtf8(cases[1]));
}

TEST(PathBytesTest, StrayBytesShowAsEscapesAndRealCharactersStay) {
    EXPECT_EQ(visibleControls(pathFromSystem("/t/\xff.app")), "/t/\\xFF.app");
    // U+10080 is written with the low surrogate DC80: a character, not a stray byte.
    const QString supplementary = QString::fromUtf8("\xf0\x90\x82\x80");
    EXPECT_EQ(visibleControls(supplementary), supplementary);
    EXPECT_EQ(visibleControls(u"a\tb\x7f\u202e"), QString::fromUtf8("a\xe2\x90\x89"
                                                                    "b\xe2\x90\xa1<U+202E>"));
}

}  // namespace
