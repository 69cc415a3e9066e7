// What a later start of Varko hands over through the single-instance socket opens in the
// running one: one alert for everything it could not open, and never more than a few new
// windows for one hand-over.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <future>

#include "app/appdelegate.h"
#include "app/erroralert.h"
#include "app/quietdelegate.h"
#include "app/singleinstance.h"
#include "app/startwindow.h"
#include "overview/datafile.h"
#include "report/ui/documentwindowcontroller.h"
#include "support/childprocess.h"
#include "support/faketool.h"
#include "support/savedialogs.h"
#include "support/shell.h"

namespace varko {
namespace {

class HandOverTest : public ::testing::Test {
protected:
    QTemporaryDir runtime;  // private (0700), as a user's runtime folder is
    QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir dir;
    testing::FakeTool tool{dir, "tool"};
    AlertRunner savedRunner = alertRunner();
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<SingleInstance> running;

    void SetUp() override {
#ifdef Q_OS_MACOS
        GTEST_SKIP() << "the system hands a Mac app's later opens to the running one";
#endif
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        delegate = testing::quietDelegate(tool);
        // As main() sets up the running Varko.
        running = std::make_unique<SingleInstance>(SingleInstance::defaultAddress());
        ASSERT_EQ(running->start({}), SingleInstance::Start::Running);
        QObject::connect(running.get(), &SingleInstance::itemsReceived, delegate.get(),
                         &AppDelegate::openHandedOverItems);
        // The launch probe's own alerts come first, so that they are not the subject either.
        QSignalSpy probed(delegate.get(), &AppDelegate::launchProbeAnswered);
        delegate->applicationDidFinishLaunching({});
        ASSERT_TRUE(!probed.isEmpty() || probed.wait(30000));
    }
    void TearDown() override {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        alertRunner() = savedRunner;
        if (!delegate) return;  // skipped
        for (DocumentWindowController* w : delegate->documents().windows()) delete w;
        running.reset();
        delegate.reset();
        testing::deleteLeftoverDialogs();
    }

    /// Hands `items` over from a second SingleInstance, as a second start does, while the
    /// event loop runs here to receive them.
    void handOver(const QStringList& items) {
        QSignalSpy received(running.get(), &SingleInstance::itemsReceived);
        auto second = std::async(std::launch::async, [items] {
            SingleInstance later(SingleInstance::defaultAddress());
            return later.start(items);
        });
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return second.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            60000));
        EXPECT_EQ(second.get(), SingleInstance::Start::HandedOver);
        EXPECT_EQ(received.size(), 1);
    }
};

TEST_F(HandOverTest, ManyMissingItemsFromASecondStartMakeOneAlertThatNamesAFew) {
    QSignalSpy refused(&delegate->documents(), &DocumentController::openRefused);
    std::vector<std::string> arguments{VARKO_BIN_DIR "/varko"};
    for (quint32 i = 0; i < handover::maxItems; ++i)
        arguments.push_back(dir.filePath(QString("gone/Missing%1.app").arg(i)).toStdString());
    // A real second start, the way a file manager starts it.
    auto second = std::async(std::launch::async, [&] {
        return testing::runProgram(
            {arguments,
             {"XDG_RUNTIME_DIR=" + runtime.path().toStdString(),
              "HOME=" + runtime.path().toStdString(), "QT_QPA_PLATFORM=offscreen"},
             {},
             false});
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return second.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        90000));
    EXPECT_EQ(second.get().status, 0);
    // The running one answers once it has taken the items in, before it opens them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !refused.isEmpty(); }, 10000));
    QApplication::processEvents();
    EXPECT_EQ(refused.size(), 1);

    const QList<QMessageBox*> boxes = testing::shownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1);
    // The first few named, the rest counted.
    testing::expectDataFile(boxes.front()->text().replace(dir.path(), "@DIR@").toStdString(),
                            "many-missing-alert.txt");
    EXPECT_TRUE(delegate->documents().windows().isEmpty());
}

TEST_F(HandOverTest, OneHandOverOpensAFewWindowsAndNamesTheRestInItsAlert) {
    QStringList items;
    const qsizetype apps = DocumentController::maxNewWindows + 4;
    for (qsizetype i = 0; i < apps; ++i)
        items << testing::makeBundle(dir, QString("App%1.app").arg(i), testing::xmlPlist(""));
    // A name that would be markup, and one that is too long to show whole.
    items.insert(1, dir.filePath("<img src=x>\nnot.app"));
    items << dir.filePath(QString(300, u'x') + ".app");
    QSignalSpy refused(&delegate->documents(), &DocumentController::openRefused);
    handOver(items);

    ASSERT_EQ(delegate->documents().windows().size(), DocumentController::maxNewWindows);
    ASSERT_EQ(refused.size(), 1);
    const QList<QMessageBox*> boxes = testing::shownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.front()->textFormat(), Qt::PlainText);
    const QString text = boxes.front()->text();
    EXPECT_TRUE(text.startsWith("Varko didn't open 6 items:")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("<img src=x>\u240Anot.app"))) << text.toStdString();
    for (qsizetype i = DocumentController::maxNewWindows; i < apps; ++i)
        EXPECT_TRUE(text.contains(QString("App%1.app” was not opened.").arg(i)))
            << text.toStdString();
    EXPECT_FALSE(text.contains(QString(250, u'x'))) << "a name shown whole";
    EXPECT_TRUE(text.contains("at most 8 new windows")) << text.toStdString();

    // The same hand-over again brings the open ones forward and opens the next few.
    handOver(items);
    EXPECT_EQ(delegate->documents().windows().size(), apps);
}

TEST_F(HandOverTest, AnAlertOverTheStartWindowOutlivesItWhenAHandOverClosesIt) {
    StartWindow* start = delegate->startWindow();
    ASSERT_NE(start, nullptr);
    ASSERT_TRUE(varko::testing::activate(start));
    const QString app = testing::makeBundle(dir, "Some.app", testing::xmlPlist(""));
    // While a launch alert waits over the start window, a hand-over opens an item.
    QTimer::singleShot(0, delegate.get(), [&] { delegate->openHandedOverItems({app}); });
    QTimer dismiss;  // should the alert stay, so that the test ends
    QObject::connect(&dismiss, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    dismiss.start(5000);
    alertRunner() = savedRunner;
    showErrorAlert("The log can't be read.");
    EXPECT_EQ(delegate->startWindow(), nullptr);
    EXPECT_EQ(delegate->documents().windows().size(), 1);
}

}  // namespace
}  // namespace varko
