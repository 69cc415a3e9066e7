#include <gtest/gtest.h>

#include <QJsonDocument>

#include "scan/ui/applicationsfilter.h"
#include "scan/ui/applicationsmodel.h"
#include "scan/ui/itemdetails.h"
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
    const struct {
        ApplicationsModel::Column column;
        Qt::SortOrder order;
        QStringList names;
    } cases[] = {
        {ApplicationsModel::name,
         Qt::AscendingOrder,
         {"alpha.app", "Beta.app", "Broken.app", "gamma.pkg", "Zoomer.app"}},
        // Folders in natural order, copy10 after copy3; one folder's items by name.
        {ApplicationsModel::folder,
         Qt::AscendingOrder,
         {"Broken.app", "alpha.app", "Beta.app", "gamma.pkg", "Zoomer.app"}},
        {ApplicationsModel::version,
         Qt::AscendingOrder,
         {"Broken.app", "alpha.app", "Zoomer.app", "gamma.pkg", "Beta.app"}},
        {ApplicationsModel::verdict,
         Qt::DescendingOrder,
         {"Broken.app", "gamma.pkg", "Beta.app", "Zoomer.app", "alpha.app"}},
        // Most services first, then by their names.
        {ApplicationsModel::servicesUsed,
         Qt::DescendingOrder,
         {"alpha.app", "Zoomer.app", "gamma.pkg", "Broken.app", "Beta.app"}},
        {ApplicationsModel::teamIdentifier,
         Qt::DescendingOrder,
         {"Zoomer.app", "gamma.pkg", "Broken.app", "Beta.app", "alpha.app"}},
    };
    for (const auto& c : cases) {
        shown.sort(c.column, c.order);
        EXPECT_EQ(names(), c.names) << c.column;
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
    // The path (folder and name), identifier and Team ID, ignoring case; not the signer.
    const std::pair<const char*, QStringList> searches[] = {
        {"COPY3", {"Beta.app", "gamma.pkg"}}, {"copy1", {"Zoomer.app"}},
        {"/applications/b", {"Broken.app"}},  {"team1", {"Zoomer.app"}},
        {"com.example.GAMMA", {"gamma.pkg"}}, {"Developer ID", {}},
    };
    for (const auto& [text, expected] : searches) {
        shown.setSearchText(text);
        EXPECT_EQ(names(), expected) << text;
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
    const QString shownName = model.index(evil, ApplicationsModel::name).data().toString();
    EXPECT_FALSE(shownName.contains('\n'));
    EXPECT_FALSE(shownName.contains(QChar(0x202E)));
    EXPECT_TRUE(shownName.contains(QChar(0x240A)));
    EXPECT_FALSE(model.index(evil, ApplicationsModel::version).data().toString().contains('\t'));
    // In the table's order, a service named twice once with both ways, the unknown one last
    // and visibly escaped.
    const QModelIndex services = model.index(evil, ApplicationsModel::servicesUsed);
    EXPECT_EQ(services.data().toString(),
              "Microphone, Camera, unknown service NSOdd\u241BUsage<i>");
    EXPECT_EQ(services.data(Qt::ToolTipRole).toString(),
              "Microphone (entitled)\nCamera (declared, allowed)\n"
              "unknown service NSOdd\u241BUsage<i> (declared)");
    EXPECT_EQ(model.index(1, ApplicationsModel::servicesUsed).data().toString(),
              "Microphone, Camera");
    EXPECT_EQ(model.index(0, ApplicationsModel::folder).data(), "/Volumes/copy10");
    EXPECT_EQ(model.index(4, ApplicationsModel::verdict).data(), "unreadable");
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
    const QByteArray csv = csvOf(shownRows(shown));
    const QList<QByteArray> lines = csv.split('\n');
    ASSERT_TRUE(csv.endsWith("\r\n"));
    ASSERT_EQ(lines.size(), 6);  // header, four camera rows, nothing after the last CRLF
    EXPECT_EQ(lines[0], "Path,Name,Folder,Identifier,Version,Signer,Team ID,Verdict,Services\r");
    EXPECT_EQ(lines[1],
              "\"/Volumes/a,b/=HYPERLINK(\"\"x\"\").app\",\"'=HYPERLINK(\"\"x\"\").app\","
              "\"/Volumes/a,b\",\"com.example.=HYPERLINK(\"\"x\"\")\",'-1,"
              "\"'+evil, \"\"quoted\"\"\",,accepted,\"Camera (declared, entitled)\"\r");
    EXPECT_TRUE(lines[2].startsWith("/Volumes/copy2/alpha.app,alpha.app,/Volumes/copy2,"));
    EXPECT_TRUE(lines[2].endsWith(",Microphone (allowed); Camera (declared)\r"));
    EXPECT_FALSE(csv.contains("Multi"));

    shown.setService({});
    shown.setSearchText("Multi");
    EXPECT_TRUE(csvOf(shownRows(shown)).contains(",Multi\xE2\x90\x8ALine.app,"));
}

TEST_F(ApplicationsTable, ExportsShownRowsAsJsonLinesInOrder) {
    model.appendItems({summary("Evil\n\"}\u2028.app", "9")});
    shown.setVerdict("accepted");
    shown.sort(ApplicationsModel::version, Qt::DescendingOrder);
    const QList<QByteArray> each = jsonLinesOf(shownRows(shown)).split('\n');
    ASSERT_EQ(each.size(), 4);
    EXPECT_TRUE(each[3].isEmpty());
    // Every line one object, even for a name that holds a line break and a quote.
    EXPECT_EQ(QJsonDocument::fromJson(each[0]).object().value("path"),
              "/Applications/Evil\n\"}\u2028.app");
    EXPECT_EQ(QJsonDocument::fromJson(each[1]).object().value("name"), "Zoomer.app");
    EXPECT_EQ(each[2], R"({"name":"alpha.app","path":"/Volumes/copy2/alpha.app"})");
}

}  // namespace
}  // namespace varko
