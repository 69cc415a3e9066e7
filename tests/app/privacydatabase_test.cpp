// File › Open Privacy Database… chosen from an app's window as a user does: the dialog, the
// Granted column it fills, and the alert for a file that is no privacy database.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include "app/alertrecorder.h"
#include "app/documentcontroller.h"
#include "fixtures/componentbundle.h"
#include "overview/ui/privacyview.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "support/shell.h"
#include "support/tccdatabase.h"

namespace varko {
namespace {

TEST(PrivacyDatabaseTest, TheMenuItemFillsTheGrantedColumnOrSaysWhyNot) {
#ifdef Q_OS_MACOS
    GTEST_SKIP() << "the system's own panel is used for choosing the database";
#endif
    QTemporaryDir dir;
    QSettings().clear();
    testing::FakeTool tool{dir, "tool"};
    tool.answer("");
    const examplegen::TestPki pki;
    examplegen::ComponentApp app;
    app.name = "Cam";
    app.identifier = "com.example.cam";
    app.info.set("NSCameraUsageDescription", "Calls.");
    const auto written = examplegen::writeComponentApp(dir.path().toStdString(), app, pki);
    ASSERT_TRUE(written) << written.error().message;
    const QString db = dir.filePath("TCC.db");
    testing::writeTccDatabase(
        db, {{"layout", "current"},
             {"rows", QJsonArray{QJsonArray{"kTCCServiceCamera", "com.example.cam", 0, 2, 2,
                                            testing::csreqHex("identifier \"com.example.cam\""),
                                            1709294400, ""}}}});

    const testing::AlertRecorder recorder;
    const std::vector<Alert>& alerts = recorder.alerts;
    DocumentController controller(Storyboard(testing::signatureTools(tool)));
    QPointer<DocumentWindowController> window =
        controller.openDocument(QString::fromStdString(written->string()));
    ASSERT_NE(window, nullptr);
    ViewController* content = window->viewController();
    const auto choose = [&](const QString& file) {
        QAction* item = testing::menuItem(window, "Open &Privacy Database…");
        ASSERT_NE(item, nullptr);
        item->trigger();
        QFileDialog* dialog = nullptr;
        // The first choice's dialog may linger, hidden, until the event loop deletes it.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            for (QFileDialog* open : window->findChildren<QFileDialog*>())
                if (open->isVisible()) dialog = open;
            return dialog != nullptr;
        }));
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(file);
        QTest::keyClick(name, Qt::Key_Return);
    };

    choose(db);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return content->privacyView && content->privacyView->privacyModel().hasGrants(); },
        30000));
    const PrivacyModel& model = content->privacyView->privacyModel();
    EXPECT_FALSE(content->privacyView->isColumnHidden(PrivacyModel::granted));
    EXPECT_TRUE(content->tabs->currentWidget()->isAncestorOf(content->privacyView));
    int camera = -1;
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.index(row, 0).data(PrivacyModel::NameRole) == "kTCCServiceCamera") camera = row;
    ASSERT_GE(camera, 0);
    EXPECT_EQ(model.index(camera, PrivacyModel::granted).data().toString(), "Allowed, this build");
    EXPECT_TRUE(model.index(camera, PrivacyModel::granted)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains("2024-03-01 12:00:00 UTC"));
    EXPECT_TRUE(alerts.empty());

    // A name of its own: Qt's dialog resolves a typed path's file name in its current folder
    // first, and the build writes an Info.plist into the one the tests run in.
    const QString notDatabase = dir.filePath("not-a-database.txt");
    ASSERT_TRUE(testing::writeFile(notDatabase, "plain text\n"));
    choose(notDatabase);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.empty(); }, 30000));
    EXPECT_EQ(alerts.front().messageText,
              "The privacy database “not-a-database.txt” could not be read.");
    EXPECT_EQ(alerts.front().informativeText, "not a SQLite database");
    testing::deleteLeftoverDialogs();
    delete window.data();
}

}  // namespace
}  // namespace varko
