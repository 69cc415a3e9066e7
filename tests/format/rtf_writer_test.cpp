#include <gtest/gtest.h>

#include "casetable.h"
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
    for (const auto& [name, entry] : testing::caseTable<2>("rtf_font_names.txt"))
        EXPECT_EQ(fontTable(name), entry) << name;
}

}  // namespace
}  // namespace varko::rtf
