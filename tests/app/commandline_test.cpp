// Varko's own arguments: which are options and which are items to open. That --help and
// --version answer is checked on the built programs (tests/packaging).
#include <gtest/gtest.h>

#include <vector>

#include "app/commandline.h"
#include "tools/pathbytes.h"

namespace varko {
namespace {

struct Line {
    std::vector<QByteArray> arguments;  ///< after the program's name
    bool answered;
    std::vector<QByteArray> items;
};

TEST(CommandLine, AnItemNamedLikeAnOptionOpensAfterDoubleDashOrAsAPath) {
    const Line lines[] = {
        {{"A.app", "B.pkg"}, false, {"A.app", "B.pkg"}},
        {{"--", "--help"}, false, {"--help"}},
        {{"./--help"}, false, {"./--help"}},
        {{"--", "--version", "--"}, false, {"--version", "--"}},
        {{"A.app", "--", "-h"}, false, {"A.app", "-h"}},
        {{"\xff\xfe.app"}, false, {"\xff\xfe.app"}},
        {{"A.app", "--version"}, true, {}},
    };
    for (const Line& line : lines) {
        std::vector<QByteArray> storage{"varko"};
        storage.insert(storage.end(), line.arguments.begin(), line.arguments.end());
        std::vector<char*> argv;
        for (QByteArray& a : storage) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int argc = int(storage.size());
        SCOPED_TRACE(
            QByteArrayList(line.arguments.begin(), line.arguments.end()).join(' ').toStdString());

        EXPECT_EQ(answerCommandLine(argc, argv.data(), "9.9").has_value(), line.answered);
        if (line.answered) continue;
        std::vector<QByteArray> items;
        for (const QString& item : commandLineItems(argc, argv.data()))
            items.push_back(host::pathToSystem(item));
        EXPECT_EQ(items, line.items);
    }
}

}  // namespace
}  // namespace varko
