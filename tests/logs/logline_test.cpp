#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPalette>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>

#include "format/casetable.h"
#include "logs/logdisplay.h"
#include "logs/loglinemodel.h"
#include "logs/loglist.h"
#include "logs/logrtf.h"
#include "support/files.h"

namespace varko::unifiedlog {
namespace {

// 18:22:06.987654 at UTC+1 is 19:22:06.987 in Berlin's summer time (UTC+2).
constexpr auto stamp = R"("timestamp":"2021-04-07 18:22:06.987654+0100")";

std::shared_ptr<LogList> parse(const QByteArray& json) {
    QByteArray bytes = json;
    return std::make_shared<LogList>(bytes);
}

TEST(LogLine, ColumnsDefaultsAndMessageFeeds) {
    const auto list =
        parse(QByteArray("[{") + stamp + R"(},{)" + stamp +
              R"(,"subsystem":"com.apple.launchservices","eventMessage":"one\ntwo"}])");
    EXPECT_TRUE(list->children[0].lineText().endsWith("[other]     [nil]      \n"));
    EXPECT_EQ(list->children[1].lineText(), "21-04-07 19:22:06.987 LaunchServ  one\ntwo\n");
    EXPECT_EQ(list->children[1].lineText().indexOf(u'\n'), 37);

    // Without a list there is no formatter: the line starts with the space.
    LogEntry orphan(LogFields{{}, {"com.apple.securityd"}, {}, {"x"}}, nullptr);
    EXPECT_EQ(orphan.lineText(), " securityd   x\n");
    EXPECT_EQ(orphan.type, LogCategory::Securityd);
}

class Display : public ::testing::Test {
protected:
    // One entry of each category, the second of two lines.
    void SetUp() override {
        list = parse(QByteArray::fromStdString(varko::testing::dataFile("four_entries.json")));
    }
    std::shared_ptr<LogList> list;
};

TEST_F(Display, EveryCheckboxCombinationShowsExactlyItsEntries) {
    for (int mask = 0; mask < 16; ++mask) {
        const CategoryFilter filter{bool(mask & 1), bool(mask & 2), bool(mask & 4), bool(mask & 8)};
        LogDisplay display;
        display.showEntries(list, filter, 12);
        QString expected;
        for (const LogEntry& e : list->children)
            if (filter.shows(e.type)) expected += e.lineText();
        EXPECT_EQ(display.text(), expected) << mask;
        EXPECT_EQ(display.lineCount(), expected.count(u'\n')) << mask;
    }
}

TEST_F(Display, VisualLinesSplitMessagesAndKeepColours) {
    LogDisplay display;
    display.showEntries(list, {}, 12);
    ASSERT_EQ(display.lineCount(), 5);
    EXPECT_EQ(display.line(1)[0].text, "21-04-07 19:22:06.987 LaunchServ  ls");
    EXPECT_EQ(display.line(2)[0].text, "second");
    EXPECT_EQ(display.line(2)[0].colour, LineColour::Red);
    EXPECT_EQ(display.line(4)[0].colour, LineColour::Blue);
    EXPECT_EQ(display.text(1, 2), "21-04-07 19:22:06.987 LaunchServ  ls\nsecond\n");
    EXPECT_TRUE(display.line(5).empty());
}

TEST_F(Display, MessagesReplaceOrFollow) {
    LogDisplay display;
    display.showEntries(list, {false, false, false, true}, 12);
    display.appendMessage("Permission denied", 13);
    EXPECT_TRUE(display.text().endsWith("k\nPermission denied"));
    EXPECT_EQ(display.line(display.lineCount() - 1)[0].fontSize, 13);

    display.setMessage("log show command returned error number 1", 12);
    display.appendMessage("\nmore", 14);
    EXPECT_EQ(display.text(), "log show command returned error number 1\nmore");
    EXPECT_EQ(display.lineCount(), 2);
    EXPECT_EQ(display.list(), nullptr);
}

TEST_F(Display, ModelCarriesTextColourFontAndCategoryAsData) {
    LogLineModel model;
    model.showEntries(list, {}, 13);
    model.appendMessage("Permission denied", 14);
    ASSERT_EQ(model.rowCount(), 6);
    struct Row {
        QString text;
        QVariant colour;
        QVariant category;
        double size;
    } rows[] = {
        {"21-04-07 19:22:06.987 TCC         tcc", {}, int(LogCategory::Tcc), 13},
        {"21-04-07 19:22:06.987 LaunchServ  ls", resolveColour(LineColour::Red, {}),
         int(LogCategory::LaunchServices), 13},
        {"second", resolveColour(LineColour::Red, {}), int(LogCategory::LaunchServices), 13},
        {"21-04-07 19:22:06.987 securityd   sec", resolveColour(LineColour::Green, {}),
         int(LogCategory::Securityd), 13},
        {"21-04-07 19:22:06.987 kernel      k", resolveColour(LineColour::Blue, {}),
         int(LogCategory::Other), 13},
        {"Permission denied", {}, {}, 14},
    };
    for (int row = 0; row < 6; ++row) {
        const QModelIndex index = model.index(row);
        EXPECT_EQ(index.data(Qt::DisplayRole).toString(), rows[row].text) << row;
        EXPECT_EQ(index.data(Qt::ForegroundRole), rows[row].colour) << row;
        EXPECT_EQ(index.data(LogLineModel::CategoryRole), rows[row].category) << row;
        EXPECT_EQ(index.data(Qt::FontRole).value<QFont>().pointSizeF(), rows[row].size) << row;
    }
    EXPECT_FALSE(model.index(6).data().isValid());
    // Some monospaced fonts don't flag themselves as fixed pitch; their advances tell.
    const QFontMetricsF metrics(model.index(0).data(Qt::FontRole).value<QFont>());
    EXPECT_EQ(metrics.horizontalAdvance(u'i'), metrics.horizontalAdvance(u'M'));

    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    model.showEntries(list, {false, false, false, true}, 12);
    model.setMessage("gone", 12);
    model.clear();
    EXPECT_EQ(resets, 3);
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(Display, PlacesOutliveAFilterAndFindGoesRoundIgnoringCase) {
    LogDisplay display;
    display.showEntries(list, {}, 12);  // tcc, ls, second, sec, k
    const std::optional<LogDisplay::Place> second = display.placeOf(2);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->entry, 1u);
    EXPECT_EQ(second->part, 1u);
    EXPECT_FALSE(display.placeOf(5));

    display.showEntries(list, {false, true, false, true}, 14);  // ls, second, k
    EXPECT_EQ(display.lineOf(*second, false), 1);
    // A hidden entry gives the next one shown, or the last when none follows.
    EXPECT_EQ(display.lineOf({0, 0}, false), -1);
    EXPECT_EQ(display.lineOf({0, 0}, true), 0);
    EXPECT_EQ(display.lineOf({2, 0}, true), 2);
    display.showEntries(list, {true, false, false, false}, 12);
    EXPECT_EQ(display.lineOf({3, 0}, true), 0);
    display.showEntries(list, {false, false, false, false}, 12);
    EXPECT_EQ(display.lineOf({0, 0}, true), -1);

    display.showEntries(list, {}, 12);
    display.appendMessage("Permission DENIED", 12);
    for (const auto& [sought, from, way, line] : varko::testing::caseTable<4>("finds.txt"))
        EXPECT_EQ(std::to_string(display.find(QString::fromStdString(sought), std::stoi(from),
                                              way == "forwards")),
                  line)
            << sought;
    EXPECT_EQ(LogDisplay().find(u"x", 0, true), -1);
}

// WCAG 2's relative luminance and contrast ratio.
double luminance(const QColor& c) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

TEST(LogLine, FixedHuesReachFourAndAHalfToOneOnLightAndDarkBackgrounds) {
    // The measure itself: the green these lines had once is the 3.1 that failed.
    EXPECT_NEAR(contrast(QColor(40, 167, 69), Qt::white), 3.13, 0.01);
    const QColor lightBase = QGuiApplication::palette().base().color();
    ASSERT_GE(lightBase.lightnessF(), 0.5);
    const QColor backgrounds[] = {Qt::white,        lightBase,        QColor(0xf0f0f0),
                                  QColor(0x1e1e1e), QColor(0x2d2d2d), QColor(0x353535),
                                  Qt::black};
    for (const QColor& background : backgrounds) {
        for (LineColour hue : {LineColour::Red, LineColour::Green, LineColour::Blue}) {
            const QColor shade = resolveColour(hue, Qt::black, background);
            EXPECT_GE(contrast(shade, background), 4.5)
                << qPrintable(background.name()) << " " << qPrintable(shade.name());
        }
    }
    // Saved files are read on white paper: the shade without a background is that one.
    for (LineColour hue : {LineColour::Red, LineColour::Green, LineColour::Blue})
        EXPECT_EQ(resolveColour(hue, Qt::black), resolveColour(hue, Qt::black, Qt::white));
    EXPECT_EQ(resolveColour(LineColour::Text, Qt::darkCyan, Qt::black), QColor(Qt::darkCyan));
}

TEST(Rtf, EscapesControlWordsBracesAndUnicode) {
    LogDisplay display;
    display.setMessage(QString::fromUtf8("a\\b{c}d\te\u00fc\u20ac\U0001F600\n\\par"), 12);
    const std::string rtf = logRtf(display);
    EXPECT_NE(rtf.find("a\\\\b\\{c\\}d\\tab "
                       "e\\u252\\'fc\\u8364\\'3f\\u-10179\\'3f\\u-8704\\'3f\\par\n\\\\par"),
              std::string::npos)
        << rtf;
    EXPECT_NE(rtf.find("\\fs24 "), std::string::npos);
    for (unsigned char c : rtf) EXPECT_LT(c, 0x80);
    EXPECT_EQ(rtf.rfind("}\n"), rtf.size() - 2);
}

TEST_F(Display, RtfCarriesColoursAndSizes) {
    LogDisplay display;
    display.showEntries(list, {}, 15);
    const std::string rtf = logRtf(display);
    // The shades for white paper, as the file is printed or read in a light editor.
    EXPECT_NE(rtf.find("{\\colortbl;\\red198\\green40\\blue40;\\red26\\green116\\blue49;"
                       "\\red0\\green88\\blue208;}"),
              std::string::npos);
    // Default, then red for launch services, green for securityd, blue for the kernel.
    for (const char* line : {"\\cf0\\fs30 21-04-07", "\\cf1\\fs30 21-04-07", "\\cf2\\fs30 21-04-07",
                             "\\cf3\\fs30 21-04-07"})
        EXPECT_NE(rtf.find(line), std::string::npos) << line;
}

TEST_F(Display, AnRtfReaderReadsBackTheShownText) {
    const QString unrtf = QStandardPaths::findExecutable(QStringLiteral("unrtf"));
    if (unrtf.isEmpty()) GTEST_SKIP() << "unrtf is not installed";
    auto tricky = parse(
        QByteArray("[{") + stamp +
        R"(,"processImagePath":"/kernel","eventMessage":"{brace} \\back \\par \"q\" f\u00fcr \u20ac \ud83d\ude00"}])");
    LogDisplay display;
    display.showEntries(tricky, {}, 12);
    QTemporaryDir dir;
    const QString file = dir.filePath("log.rtf");
    const std::string rtf = logRtf(display);
    ASSERT_TRUE(testing::writeFile(file, QByteArray::fromStdString(rtf)));
    // unrtf's HTML keeps every character, where its text output is ASCII only.
    QProcess reader;
    reader.start(unrtf, {QStringLiteral("--html"), file});
    ASSERT_TRUE(reader.waitForFinished(30000));
    QTextDocument read;
    read.setHtml(QString::fromUtf8(reader.readAllStandardOutput()));
    // HTML folds runs of blanks, so blanks are compared as runs; the RTF keeps them all.
    const auto fold = [](QString t) {
        return t.replace(QChar::LineSeparator, u'\n')
            .replace(QRegularExpression(" +"), " ")
            .trimmed();
    };
    EXPECT_EQ(fold(read.toPlainText()).toStdString(), fold(display.text()).toStdString());
    EXPECT_NE(rtf.find(" kernel      \\{brace\\}"), std::string::npos);
    // The colour survives too: the first entry is blue (its process is the kernel).
    const QTextFragment first = read.begin().begin().fragment();
    EXPECT_EQ(first.charFormat().foreground().color(), resolveColour(LineColour::Blue, Qt::black));
}

QByteArray entry(const QByteArray& subsystem, const QByteArray& image,
                 const QByteArray& message = "m") {
    return R"({"timestamp":"2021-04-07 18:22:06.123456+0100","subsystem":")" + subsystem +
           R"(","processImagePath":")" + image + R"(","eventMessage":")" + message + R"("})";
}

TEST(LogParse, ClassificationTableInOrder) {
    const char* names[] = {"Other", "Tcc", "LaunchServices", "Securityd"};
    for (const auto& [subsystem, image, type, label] :
         varko::testing::caseTable<4>("categories.txt")) {
        SCOPED_TRACE(subsystem + " " + image);
        const auto list = parse("[" + entry(subsystem.c_str(), image.c_str()) + "]");
        ASSERT_EQ(list->children.size(), 1u);
        EXPECT_EQ(names[int(list->children[0].type)], type);
        EXPECT_EQ(list->children[0].subsystem(), QString::fromStdString(label));
    }
}

TEST(LogParse, MissingAndNonTextKeysTakeTheDefaults) {
    const auto before = now();
    const auto list = parse(R"([{"eventMessage":"only"},{},{"subsystem":7,"processImagePath":null,
        "eventMessage":["x"],"timestamp":12},{"eventMessage":""},
        {"timestamp":"2021-04-07 18:22:06.123456"}])");
    ASSERT_EQ(list->children.size(), 5u);
    const LogEntry& only = list->children[0];
    EXPECT_EQ(only.subsystem(), "[other]    ");
    EXPECT_EQ(only.type, LogCategory::Other);
    EXPECT_EQ(only.eventMessage, "only");
    EXPECT_GE(only.timestamp, before);  // the time of parsing
    EXPECT_EQ(list->children[1].eventMessage, "[nil]      ");
    EXPECT_EQ(list->children[2].eventMessage, "[nil]      ");
    EXPECT_EQ(list->children[2].subsystem(), "[other]    ");
    EXPECT_EQ(list->children[3].eventMessage, "");   // an empty message stays empty
    EXPECT_GE(list->children[4].timestamp, before);  // no offset: unreadable
}

TEST(LogParse, MessagesPastTheBoundEndWithWhatWasCut) {
    const QByteArray message(qsizetype(maxMessageBytes) + 1000, 'm');
    const auto list = parse(R"([{"eventMessage":")" + message + R"("}])");
    ASSERT_EQ(list->children.size(), 1u);
    EXPECT_EQ(list->children[0].eventMessage,
              QString(qsizetype(maxMessageBytes), u'm') +
                  QString::fromUtf8(" \u2026[1000 more bytes not shown]"));
    EXPECT_EQ(list->longestLine, 21 + 1 + 11 + 1 + list->children[0].eventMessage.size());
}

TEST(LogParse, EscapesAndSurrogatePairsDecode) {
    const auto list = parse(
        R"([{"eventMessage":"q\" b\\ s\/ t\t n\n u\u00fc e\ud83d\ude00","subsystem":"com.apple\u002eTCC"}])");
    ASSERT_EQ(list->children.size(), 1u);
    EXPECT_EQ(list->children[0].eventMessage,
              QString::fromUtf8("q\" b\\ s/ t\t n\n u\u00fc e\U0001F600"));
    EXPECT_EQ(list->children[0].type, LogCategory::Tcc);
    EXPECT_EQ(list->children[0].lineFeeds, 1u);
}

TEST(LogParse, LastDuplicateKeyWins) {
    const auto list = parse(R"([{"subsystem":"com.apple.TCC","subsystem":"com.apple.securityd"},
        {"eventMessage":"first","eventMessage":5}])");
    ASSERT_EQ(list->children.size(), 2u);
    EXPECT_EQ(list->children[0].type, LogCategory::Securityd);
    EXPECT_EQ(list->children[1].eventMessage, "[nil]      ");
}

TEST(LogParse, TimestampsHonourTheirOffsetAndAreStrict) {
    const auto t = [](const char* text) { return parseLongTimestamp(text); };
    ASSERT_TRUE(t("2021-04-07 18:22:06.123456+0000"));
    EXPECT_EQ(*t("2021-04-07 18:22:06.123456+0000"), 1617819726123456);
    EXPECT_EQ(*t("2021-04-07 18:22:06.123456-0500") - *t("2021-04-07 18:22:06.123456+0000"),
              qint64(5) * 3600 * 1000000);
    EXPECT_EQ(*t("2024-02-29 00:00:00.000000+0530"), *t("2024-02-28 18:30:00.000000+0000"));
    for (const auto& [bad] : varko::testing::caseTable<1>("bad_timestamps.txt"))
        EXPECT_FALSE(t(bad.c_str())) << bad;
}

TEST(LogParse, LargeDocumentsParseInSlicesAndWalkOnWhereACutIsWrong) {
    // Over the slice size, and with "},{" inside strings and nested arrays where a
    // slice would be cut: the result must equal that of a plain walk.
    QByteArray json = "[";
    const QByteArray filler(3000, 'x');
    for (int i = 0; i < 6000; ++i) {
        if (i > 0) json += ',';
        if (i % 700 == 0) {
            json += R"({"eventMessage":"tricky },{ text )" + QByteArray::number(i) +
                    R"(","backtrace":[{"a":1},{"b":2}]})";
        } else {
            json += R"({"subsystem":"com.apple.TCC","eventMessage":")" + QByteArray::number(i) +
                    R"(","pad":")" + filler + "\"}";
        }
    }
    json += "]";
    const auto list = parse(json);
    ASSERT_EQ(list->children.size(), 6000u);
    EXPECT_EQ(list->children[0].eventMessage, "tricky },{ text 0");
    EXPECT_EQ(list->children[5999].eventMessage, "5999");
    EXPECT_EQ(list->children[1400].eventMessage, "tricky },{ text 1400");
    for (std::size_t i = 1; i < 6000; ++i)
        if (i % 700 != 0) {
            ASSERT_EQ(list->children[i].eventMessage, QString::number(i));
        }
    EXPECT_EQ(list->summary.skipped, 0u);

    // A fault far behind the first slices costs only its element.
    QByteArray broken = json;
    broken.insert(json.indexOf(R"({"subsystem":"com.apple.TCC","eventMessage":"4001")"),
                  R"({"eventMessage":"\q"},)");
    const auto withFault = parse(broken);
    EXPECT_EQ(withFault->children.size(), 6000u);
    EXPECT_EQ(withFault->summary.skipped, 1u);
    EXPECT_EQ(withFault->children[4001].eventMessage, "4001");

    // Cut short anywhere, the entries before the cut are there.
    const auto cut = parse(json.left(json.size() / 2));
    EXPECT_TRUE(cut->summary.truncated);
    ASSERT_GT(cut->children.size(), 2900u);
    EXPECT_EQ(cut->children[2900].eventMessage, "2900");
}

}  // namespace
}  // namespace varko::unifiedlog
