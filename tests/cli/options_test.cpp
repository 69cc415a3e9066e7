// varko-report's command line as GNU tools read theirs: options anywhere before "--".
#include "cli/clitest.h"

namespace {

using namespace varko::testing;

TEST(CommandLine, OptionsGoAnywhereBeforeTheEndOfOptionsAndUnknownOnesAreRefused) {
    QTemporaryDir dir;
    const QString apps = dir.filePath("Apps"), item = apps + "/A.app";
    copyExample(item);
    const QByteArray refused = "varko-report: unrecognized option '--bogus'\nusage: ";
    // What standard output and error start with; an empty one must stay empty.
    const struct {
        QStringList args;
        int status;
        QByteArray out, err;
    } cases[] = {
        {{"--scan", "APPS", "--json"}, 0, "{\"", ""},
        {{"APPS", "--json", "--scan"}, 0, "{\"", ""},
        {{"ITEM", "--json"}, 0, "[", ""},
        {{"--json", "--", "--json"}, 2, "[", "varko-report: “--json” does not exist"},
        {{"--", "--help"}, 2, "", "varko-report: “--help” does not exist"},
        {{"ITEM", "--help"}, 0, "usage: ", ""},
        {{"--bogus", "ITEM"}, 2, "", refused},
        {{"ITEM", "--scan", "--bogus"}, 2, "", refused},
        {{"--x\x1b[2J\n"}, 2, "", "varko-report: unrecognized option '--x␛[2J␊'\nusage: "},
        {{"--scan", "--diff", "APPS"}, 2, "", "varko-report: --scan and --diff can't be used"},
        {{"--diff", "ITEM"}, 2, "", "varko-report: --diff takes two items"},
        {{"--deep", "ITEM"}, 2, "", "varko-report: --deep works only with --scan\nusage: "},
        {{"--scan", "--json"}, 2, "", "varko-report: no folder named\nusage: "},
        {{"ITEM", "--tcc"}, 2, "", "varko-report: --tcc needs a privacy database\nusage: "},
        {{"--tcc=ITEM", "--scan", "APPS"}, 2, "", "varko-report: --tcc can't be used with --scan"},
        {{"--pppc", "ITEM", "ITEM"}, 2, "", "varko-report: --pppc takes one app\nusage: "},
        {{"--pppc", "--json", "ITEM"}, 2, "", "varko-report: --pppc can't be used with"},
        {{"-o", "x", "ITEM"}, 2, "", "varko-report: -o and --receiver work only with --pppc\n"},
    };
    for (const auto& c : cases) {
        QStringList args = c.args;
        args.replaceInStrings("APPS", apps).replaceInStrings("ITEM", item);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ProgramRun r = varkoReport(args);
        EXPECT_EQ(r.status, c.status);
        for (const auto& [seen, expected] : {std::pair{r.out, c.out}, std::pair{r.err, c.err}}) {
            EXPECT_TRUE(seen.startsWith(expected)) << seen.left(300).toStdString();
            EXPECT_EQ(seen.isEmpty(), expected.isEmpty()) << seen.left(300).toStdString();
        }
    }
}

}  // namespace
