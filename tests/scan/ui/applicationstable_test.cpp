#include <gtest/gtest.h>

#include "overview/datafile.h"
#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"
#include "scan/ui/itemdetails.h"
#include "scan/ui/tableexport.h"
#include "summaries.h"

namespace varko {
namespace {

using testing::dataCases;
using testing::expectDataFile;
using testing::summary;
const QString camera = QStringLiteral("kTCCServiceCamera");
const QString microphone = QStringLiteral("kTCCServiceMicrophone");

class ApplicationsTable : public ::testing::Test {
protected:
    ApplicationsTable() {
        shown.setSourceModel(&model);
        std::vector<scan::ItemSummary> items;
        items.push_back(summary("Zoomer.app", "1.10", "Developer ID Application: Maker (TEAM1)",
                                "accepted", {{camera, true, true, false}}, "/Volumes/copy10"));
        items.push_back(summary("alpha.app", "1.9", "Apple Mac OS Application Signing", "accepted",
                                {{camera, true}, {microphone, false, false, true}},
                                "/Volumes/copy2"));
        items.push_back(summary("Beta.app", "10.0", "ad hoc", "rejected", {}, "/Volumes/copy3"));
        items.push_back(summary("gamma.pkg", "2.0", "unsigned", "unknown",
                                {{camera, false, false, true}}, "/Volumes/copy3"));
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

    ApplicationsModel model;
    ApplicationsFilter shown;
};

TEST_F(ApplicationsTable, ComparesVersionsNaturallyAndSortsEveryKindOfColumn) {
    for (const auto& c : dataCases("natural-order.txt")) {
        const int order = compareNaturally(QString(c[0]), QString(c[2]));
        EXPECT_EQ((order > 0) - (order < 0), c[1].toInt()) << c[0].data();
    }
    for (const auto& c : dataCases("table-orders.txt")) {
        int column = 0;
        while (column < ApplicationsModel::columns &&
               model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString() != c[0])
            ++column;
        ASSERT_LT(column, ApplicationsModel::columns) << c[0].data();
        shown.sort(column, c[1] == "up" ? Qt::AscendingOrder : Qt::DescendingOrder);
        EXPECT_EQ(names().join(", ").toStdString(), c[2].toStdString()) << c[0].data();
    }
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
    for (const auto& c : dataCases("table-searches.txt")) {
        shown.setSearchText(c[0]);
        EXPECT_EQ(names().join(", ").toStdString(), c[1].toStdString()) << c[0].data();
    }
    shown.setSearchText("");
    EXPECT_EQ(shown.rowCount(), 5);
    EXPECT_EQ(signerKind(u"Developer ID Application: X (Y)"), SignerKind::developerId);
    EXPECT_EQ(signerKind(u"Software Signing"), SignerKind::apple);
    EXPECT_EQ(signerKind(u"Test CA leaf"), SignerKind::other);
}

TEST_F(ApplicationsTable, AppendedRowsKeepSortFilterAndLearnServices) {
    shown.sort(ApplicationsModel::version, Qt::DescendingOrder);
    // A service the table doesn't know, chosen before any item uses it.
    shown.setService("NSWeirdUsageDescription");
    EXPECT_EQ(shown.rowCount(), 0);
    const std::size_t known = model.services().size();
    model.appendItems(
        {summary("Late.app", "3.0", "ad hoc", "accepted", {{"NSWeirdUsageDescription", true}}),
         summary("Later.app", "0.1", "ad hoc", "accepted", {{camera, true}})});
    ASSERT_EQ(model.services().size(), known + 1);
    EXPECT_EQ(model.services().back().title, "unknown service NSWeirdUsageDescription");
    EXPECT_EQ(names(), QStringList({"Late.app"}));

    shown.setService(camera);
    EXPECT_EQ(names(), QStringList({"gamma.pkg", "Zoomer.app", "alpha.app", "Later.app"}));
    // Rows after a scan began show their folders from the one scanned.
    model.setScannedFolders({"/Volumes/"});
    model.appendItems({summary("Deep.app", "1", "ad hoc", "accepted", {}, "/Volumes/copy4/Sub"),
                       summary("Top.app", "1", "ad hoc", "accepted", {}, "/Volumes")});
    EXPECT_EQ(model.index(7, ApplicationsModel::folder).data(), "Volumes/copy4/Sub");
    EXPECT_EQ(model.index(7, ApplicationsModel::folder).data(Qt::ToolTipRole),
              "/Volumes/copy4/Sub");
    EXPECT_EQ(model.index(8, ApplicationsModel::folder).data(), "Volumes");
    model.appendItems({summary("Mid.app", "1.95", "ad hoc", "accepted", {{camera, false, true}}),
                       summary("NoCamera.app", "5")});
    EXPECT_EQ(names(),
              QStringList({"gamma.pkg", "Mid.app", "Zoomer.app", "alpha.app", "Later.app"}));
}

TEST_F(ApplicationsTable, NamesServicesInWordsAndShowsHostileTextsPlain) {
    model.appendItems({summary("Evil\n\u202Egpj<b>.app", "1\t2", "ad hoc", "accepted",
                               {{"kTCCServiceMicrophone", false, true},
                                {"NSOdd\u001BUsage<i>", true},
                                {camera, true},
                                {camera, false, false, true}})});
    const int evil = 5;
    // Line breaks, tabs and escapes visible, no bidirectional override; in the table's order a
    // service named twice once with both ways, the unknown one last and visibly escaped.
    testing::expectDataFile(testing::modelText(model), "hostile-rows.txt");
    EXPECT_EQ(model.index(evil, ApplicationsModel::servicesUsed).data(Qt::ToolTipRole).toString(),
              "Microphone (entitled)\nCamera (declared, allowed)\n"
              "unknown service NSOdd\u241BUsage<i> (declared)");
    EXPECT_EQ(model.index(4, ApplicationsModel::verdict).data(Qt::ToolTipRole), "no Info.plist");

    // The pane escapes what the item wrote and says every way in words.
    const QString html = itemDetailsHtml(model, evil);
    EXPECT_FALSE(html.contains("<b>.app") || html.contains("<i>")) << html.toStdString();
    EXPECT_TRUE(html.contains("gpj&lt;b&gt;.app"));
    EXPECT_TRUE(
        html.contains("<td>Camera</td><td align=center>yes</td><td align=center>—</td>"
                      "<td align=center>yes</td>"))
        << html.toStdString();
    EXPECT_TRUE(itemDetailsHtml(model, 4).contains("no Info.plist"));
    EXPECT_TRUE(itemDetailsHtml(model, 2).contains("Asks for no privacy service."));
}

TEST_F(ApplicationsTable, ExportsShownRowsAsCsvWithPathsQuotingAndFormulaGuard) {
    model.appendItems({summary("=HYPERLINK(\"x\").app", "-1", "+evil, \"quoted\"", "accepted",
                               {{camera, true, true}}, "/Volumes/a,b"),
                       summary("Multi\nLine.app", "@2")});
    shown.setService(camera);
    shown.sort(ApplicationsModel::name, Qt::AscendingOrder);
    // Each line ends in CRLF, the last too; the four camera rows follow the titles.
    QByteArray csv = csvOf(shownRows(shown));
    EXPECT_EQ(csv.count("\r\n"), csv.count('\n'));
    expectDataFile(csv.replace("\r\n", "\n").toStdString(), "camera-export.csv");
    shown.setService({});
    shown.setSearchText("Multi");
    EXPECT_TRUE(csvOf(shownRows(shown)).contains(",Multi\xE2\x90\x8ALine.app,"));
}

TEST_F(ApplicationsTable, ExportsShownRowsAsJsonLinesInOrder) {
    model.appendItems({summary("Evil\n\"}\u2028.app", "9")});
    shown.setVerdict("accepted");
    shown.sort(ApplicationsModel::version, Qt::DescendingOrder);
    // Every line one object, even for a name that holds a line break and a quote.
    expectDataFile(jsonLinesOf(shownRows(shown)).toStdString(), "accepted-export.jsonl");
}

}  // namespace
}  // namespace varko
