// varko-report's command line as GNU tools read theirs: options anywhere before "--".
#include "cli/clitest.h"
#include "overview/datafile.h"

namespace {

using namespace varko::testing;

TEST(CommandLine, OptionsGoAnywhereBeforeTheEndOfOptionsAndUnknownOnesAreRefused) {
    QTemporaryDir dir;
    const QString apps = dir.filePath("Apps"), item = apps + "/A.app";
    copyExample(item);
    for (const auto& c : dataCases("options.txt")) {
        QStringList args = QString::fromUtf8(c[0]).replace("\\e", "\x1b").split(' ');
        args.replaceInStrings("APPS", apps).replaceInStrings("ITEM", item);
        SCOPED_TRACE(c[0].toStdString());
        const ProgramRun r = varkoReport(args);
        EXPECT_EQ(r.status, c[1].toInt());
        for (const auto& [seen, expected] : {std::pair{r.out, c[2]}, std::pair{r.err, c[3]}}) {
            EXPECT_TRUE(seen.startsWith(expected)) << seen.left(300).toStdString();
            EXPECT_EQ(seen.isEmpty(), expected.isEmpty()) << seen.left(300).toStdString();
        }
    }
}

}  // namespace
