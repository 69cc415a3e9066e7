#include <gtest/gtest.h>

#include <QJsonDocument>

#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"
#include "scan/ui/tableexport.h"
#include "summaries.h"

namespace varko {
namespace {

using testing::summary;
const QString camera = QStringLiteral("kTCCServiceCamera");
const QString microphone = QStringLiteral("kTCCServiceMicrophone");

class ApplicationsTable : public ::testing::Test {
protected:
    ApplicationsTable() {
        shown.setSourceModel(&model);
        std::vector<scan::ItemSummary> items;
        items.push_back(summary("Zoomer.app", "1.10", "Developer ID Application: Maker (TEAM1)",
                                "accepted", {{camera, true, true, false}}));
        items.push_back(summary("alpha.app", "1.9", "Apple Mac OS Application Signing", "accepted",
                                {{camera, true}, {microphone, false, false, true}}));
        items.push_back(summary("Beta.app", "10.0", "ad hoc", "rejected"));
        items.push_back(
            summary("gamma.pkg", "2.0", "unsigned", "unknown", {{camera, false, false, true}}));
        scan::ItemSummary broken = summary("Broken.app", "", "");
        broken.unreadable = true;
        broken.problem = "no Info.plist";
        items.push_back(broken);
        model.appendItems(std::move(items));
    }

    /// The names in the order the proxy shows them.
    QStringList names() const {
        QStringList out;
        for (int r = 0; r < shown.rowCount(); ++r)
            out << shown.index(r, ApplicationsModel::name).data().toString();
        return out;
    }
    int serviceColumn(const QString& key) const {
        return ApplicationsModel::fixedColumns + model.serviceIndex(key);
    }

    ApplicationsModel model;
    ApplicationsFilter shown;
};

TEST_F(ApplicationsTable, ComparesVersionsNaturally) {
    EXPECT_LT(compareNaturally(u"1.9", u"1.10"), 0);
    EXPECT_LT(compareNaturally(u"2.0", u"10.0"), 0);
    EXPECT_EQ(compareNaturally(u"1.09", u"1.9"), 0);
    EXPECT_LT(compareNaturally(u"1.0b2", u"1.0b10"), 0);
    EXPECT_LT(compareNaturally(u"1.0", u"1.0.1"), 0);
    EXPECT_GT(compareNaturally(u"99999999999999999999999", u"99999999999999999999998"), 0);
    EXPECT_EQ(compareNaturally(u"ABC", u"abc"), 0);
}

TEST_F(ApplicationsTable, SortsEveryKindOfColumn) {
    shown.sort(ApplicationsModel::name, Qt::AscendingOrder);
    EXPECT_EQ(names(),
              QStringList({"alpha.app", "Beta.app", "Broken.app", "gamma.pkg", "Zoomer.app"}));
    shown.sort(ApplicationsModel::version, Qt::AscendingOrder);
    EXPECT_EQ(names(),
              QStringList({"Broken.app", "alpha.app", "Zoomer.app", "gamma.pkg", "Beta.app"}));
    shown.sort(ApplicationsModel::verdict, Qt::DescendingOrder);
    EXPECT_EQ(names().first(), "Broken.app");  // "unreadable"
    EXPECT_EQ(names().mid(3), QStringList({"Zoomer.app", "alpha.app"}));
    // Allowed weighs more than declared and entitled together.
    shown.sort(serviceColumn(camera), Qt::DescendingOrder);
    EXPECT_EQ(names().mid(0, 3), QStringList({"gamma.pkg", "Zoomer.app", "alpha.app"}));
}

TEST_F(ApplicationsTable, FiltersByServiceSignerVerdictAndText) {
    shown.sort(ApplicationsModel::name, Qt::AscendingOrder);
    shown.setService(camera);
    EXPECT_EQ(names(), QStringList({"alpha.app", "gamma.pkg", "Zoomer.app"}));
    shown.setSignerKind(SignerKind::appStore);
    EXPECT_EQ(names(), QStringList({"alpha.app"}));
    shown.setService({});
    shown.setSignerKind(SignerKind::adHoc);
    EXPECT_EQ(names(), QStringList({"Beta.app"}));
    shown.setSignerKind(std::nullopt);
    shown.setVerdict("unreadable");
    EXPECT_EQ(names(), QStringList({"Broken.app"}));
    shown.setVerdict({});
    // Name, identifier and Team ID, ignoring case; not the signer.
    shown.setSearchText("team1");
    EXPECT_EQ(names(), QStringList({"Zoomer.app"}));
    shown.setSearchText("COM.EXAMPLE.GAMMA");
    EXPECT_EQ(names(), QStringList({"gamma.pkg"}));
    shown.setSearchText("Developer ID");
    EXPECT_TRUE(names().isEmpty());
    shown.setSearchText("");
    EXPECT_EQ(shown.rowCount(), 5);
    EXPECT_EQ(signerKind(u"Developer ID Application: X (Y)"), SignerKind::developerId);
    EXPECT_EQ(signerKind(u"Software Signing"), SignerKind::apple);
    EXPECT_EQ(signerKind(u"Test CA leaf"), SignerKind::other);
}

TEST_F(ApplicationsTable, AppendedRowsKeepSortFilterAndGrowColumns) {
    shown.sort(ApplicationsModel::version, Qt::DescendingOrder);
    shown.setService(camera);
    // A service the table doesn't know, chosen before any item uses it.
    shown.setService("NSWeirdUsageDescription");
    EXPECT_EQ(shown.rowCount(), 0);
    const int columns = model.columnCount();
    model.appendItems(
        {summary("Late.app", "3.0", "ad hoc", "accepted", {{"NSWeirdUsageDescription", true}}),
         summary("Later.app", "0.1", "ad hoc", "accepted", {{camera, true}})});
    EXPECT_EQ(model.columnCount(), columns + 1);
    EXPECT_EQ(names(), QStringList({"Late.app"}));
    const QModelIndex cell = model.index(5, columns);
    EXPECT_EQ(cell.data().toString(), "D");
    EXPECT_EQ(model.index(0, columns).data().toString(), "");
    EXPECT_EQ(model.headerData(columns, Qt::Horizontal, Qt::DisplayRole),
              "NSWeirdUsageDescription");

    shown.setService(camera);
    EXPECT_EQ(names(), QStringList({"gamma.pkg", "Zoomer.app", "alpha.app", "Later.app"}));
    model.appendItems({summary("Mid.app", "1.95", "ad hoc", "accepted", {{camera, false, true}}),
                       summary("NoCamera.app", "5")});
    EXPECT_EQ(names(),
              QStringList({"gamma.pkg", "Mid.app", "Zoomer.app", "alpha.app", "Later.app"}));
}

TEST_F(ApplicationsTable, ShowsHostileTextsPlainAndMarksInWords) {
    model.appendItems({summary("Evil\n\u202Egpj.app", "1\t2", "ad hoc", "accepted",
                               {{camera, true, false, true}})});
    const QString shownName = model.index(5, ApplicationsModel::name).data().toString();
    EXPECT_FALSE(shownName.contains('\n'));
    EXPECT_FALSE(shownName.contains(QChar(0x202E)));
    EXPECT_TRUE(shownName.contains(QChar(0x240A)));
    EXPECT_FALSE(model.index(5, ApplicationsModel::version).data().toString().contains('\t'));
    const QModelIndex marks = model.index(5, serviceColumn(camera));
    EXPECT_EQ(marks.data().toString(), "D A");
    EXPECT_EQ(marks.data(Qt::ToolTipRole).toString(),
              "Camera: declared in a usage description, privately allowed");
    EXPECT_EQ(model.index(0, ApplicationsModel::verdict).data(), "accepted");
    EXPECT_EQ(model.index(4, ApplicationsModel::verdict).data(), "unreadable");
    EXPECT_EQ(model.index(4, ApplicationsModel::verdict).data(Qt::ToolTipRole), "no Info.plist");
}

TEST_F(ApplicationsTable, ExportsShownRowsAsCsvWithQuotingAndFormulaGuard) {
    model.appendItems(
        {summary("=HYPERLINK(\"x\").app", "-1", "+evil, \"quoted\"", "accepted", {{camera, true}}),
         summary("Multi\nLine.app", "@2")});
    shown.setService(camera);
    shown.sort(ApplicationsModel::name, Qt::AscendingOrder);
    const QByteArray csv = csvOf(shownRows(shown));
    const QList<QByteArray> lines = csv.split('\n');
    ASSERT_TRUE(csv.endsWith("\r\n"));
    ASSERT_EQ(lines.size(), 6);  // header, four camera rows, nothing after the last CRLF
    EXPECT_TRUE(
        lines[0].startsWith("Name,Identifier,Version,Signer,Team ID,Verdict,Hardened runtime,"));
    EXPECT_TRUE(lines[0].contains(",Camera,"));
    EXPECT_TRUE(lines[1].startsWith(
        "\"'=HYPERLINK(\"\"x\"\").app\",\"com.example.=HYPERLINK(\"\"x\"\")\",'-1,"
        "\"'+evil, \"\"quoted\"\"\",,accepted,yes,"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("alpha.app,"));
    EXPECT_FALSE(csv.contains("Multi"));
    EXPECT_FALSE(csv.contains("Beta.app"));

    shown.setService({});
    shown.setSearchText("Multi");
    EXPECT_TRUE(csvOf(shownRows(shown)).contains("Multi\xE2\x90\x8ALine.app,"));
}

TEST_F(ApplicationsTable, ExportsShownRowsAsJsonLinesInOrder) {
    shown.setVerdict("accepted");
    shown.sort(ApplicationsModel::version, Qt::DescendingOrder);
    const QByteArray lines = jsonLinesOf(shownRows(shown));
    const QList<QByteArray> each = lines.split('\n');
    ASSERT_EQ(each.size(), 3);
    EXPECT_TRUE(each[2].isEmpty());
    EXPECT_EQ(QJsonDocument::fromJson(each[0]).object().value("name"), "Zoomer.app");
    EXPECT_EQ(QJsonDocument::fromJson(each[1]).object().value("name"), "alpha.app");
    EXPECT_EQ(each[0], R"({"name":"Zoomer.app","path":"/Applications/Zoomer.app"})");
}

}  // namespace
}  // namespace varko
