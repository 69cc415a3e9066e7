#include <gtest/gtest.h>

#include "format/rtf/rtfwriter.h"

namespace varko::rtf {
namespace {

std::string fontTable(std::string_view fontName) {
    std::string doc = Writer(fontName, {}).finish();
    const auto start = doc.find("\\fcharset0 ") + 11;
    return doc.substr(start, doc.find("}}", start) - start);
}

// Found by fuzz_rtf: a name of control characters left the font unnamed, and DEL went
// into the document raw.
TEST(RtfWriter, FontNamesKeepOnlyWhatTheTableCanHold) {
    EXPECT_EQ(fontTable("Menlo"), "Menlo;");
    EXPECT_EQ(fontTable("Me;n{l}o\\"), "Menlo;");
    EXPECT_EQ(fontTable("Men\x7flo\x01"), "Menlo;");
    EXPECT_EQ(fontTable(""), "Courier;");
    EXPECT_EQ(fontTable("\x01;{}\x7f"), "Courier;");
    EXPECT_EQ(fontTable("Caf\xc3\xa9"), "Caf;");
}

}  // namespace
}  // namespace varko::rtf
