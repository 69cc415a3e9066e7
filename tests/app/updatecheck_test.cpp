#include <gtest/gtest.h>

#include <QAction>
#include <QSignalSpy>

#include "app/alertrecorder.h"
#include "app/updatecheck.h"
#include "httpserver.h"

namespace varko {
namespace {

QByteArray list(const QByteArray& entries) {
    return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array>)" + entries +
           "</array></plist>";
}

QByteArray entry(const QByteArray& app, const QByteArray& version, const QByteArray& url) {
    return "<dict><key>AppName</key><string>" + app + "</string><key>Version</key><string>" +
           version + "</string><key>URL</key><string>" + url + "</string></dict>";
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        checker.updateStatusItem = &status;
        checker.openUrl = [this](const QUrl& url) {
            opened << url;
            return true;
        };
    }
    void check(int code, const QByteArray& type, const QByteArray& body,
               const QString& version = "1.2") {
        server.answer(code, type, body);
        QSignalSpy finished(&checker, &UpdateChecker::checkFinished);
        checker.checkForUpdates(version);
        ASSERT_TRUE(finished.wait(10000));
    }

    testing::HttpServer server;
    UpdateChecker checker{{server.url(), "https://varko.example/downloads/"}};
    QAction status{"Update not checked"};
    testing::AlertRecorder recorder;
    std::vector<Alert>& alerts = recorder.alerts;
    int& answer = recorder.answer;
    QList<QUrl> opened;
};

// Answers that are no list, or offer nothing that may be offered, neither alert nor open.
TEST_F(UpdateCheckTest, WhatIsNoListOrOffersNothingIsDroppedQuietly) {
    const QByteArray good = list(entry("Varko", "1.3", "https://varko.example/downloads/v13.dmg"));
    QByteArray big = good;
    big.insert(big.indexOf("<array>"), QByteArray(UpdateChecker::maxListBytes, ' '));
    const struct {
        const char* what;
        int code;
        QByteArray type, body;
        bool checked = false;  ///< whether the list was read
    } cases[] = {
        {"not found", 404, "text/xml", good},
        {"server error", 500, "text/plain", good},
        {"HTML", 200, "text/html", good},
        {"no type", 200, "", good},
        {"type in capitals", 200, "TEXT/XML", good},
        {"oversized", 200, "text/xml", big},
        {"no Varko entry", 200, "text/xml",
         list(entry("Other", "9", "https://varko.example/downloads/o.dmg") +
              entry("varko", "9", "https://varko.example/downloads/v.dmg"))},
        {"foreign addresses", 200, "text/xml",
         list(entry("Varko", "2", "https://elsewhere.example/?u=https://varko.example/downloads/") +
              entry("Varko", "2", "http://varko.example/downloads/v2.dmg") +
              entry("Varko", "2", "https://varko.example/other/v2.dmg") + entry("Varko", "2", "")),
         true},
        {"the running version", 200, "text/xml",
         list(entry("Varko", "1.2", "https://varko.example/downloads/v12.dmg")), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        status.setText("Update not checked");
        status.setChecked(false);
        check(c.code, c.type, c.body);
        EXPECT_TRUE(alerts.empty());
        EXPECT_TRUE(opened.isEmpty());
        EXPECT_EQ(status.text(), c.checked ? "Checked for update" : "Update not checked");
        EXPECT_EQ(status.isChecked(), c.checked);
    }
    // The MIME type is the header without its parameters.
    check(200, "text/xml; charset=utf-8", good);
    EXPECT_EQ(alerts.size(), 1u);
}

TEST_F(UpdateCheckTest, BrokenAndEmptyListsSaySo) {
    check(200, "text/plain", "this is not a property list <");
    check(200, "text/xml", list(""));
    check(200, "text/xml", R"(<plist version="1.0"><dict/></plist>)");
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0].informativeText, "Error in update Property List.");
    EXPECT_EQ(alerts[1].informativeText, "Update Property List has no entries.");
    EXPECT_EQ(alerts[2].informativeText, "Error in update Property List.");
}

TEST_F(UpdateCheckTest, AnyOtherVersionOnTheDownloadSiteIsOffered) {
    answer = alertSecondButtonReturn;
    check(200, "text/xml",
          list(entry("Varko", "1.1", "https://varko.example/downloads/v11.dmg") +
               entry("Varko", "2.0", "https://varko.example/downloads/v20.dmg")));
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].messageText, "An update to this app to version 1.1 is available.");
    EXPECT_EQ(alerts[0].informativeText,
              "You are currently running Varko version 1.2.\nPlease choose whether to download "
              "this update now in "
              "your default browser.");
    EXPECT_EQ(alerts[0].buttons, (QStringList{"Ignore", "Download"}));
    EXPECT_EQ(alerts[0].style, Alert::Style::Informational);
    EXPECT_EQ(opened, (QList<QUrl>{QUrl("https://varko.example/downloads/v11.dmg"),
                                   QUrl("https://varko.example/downloads/v20.dmg")}));
    answer = alertFirstButtonReturn;
    opened.clear();
    check(200, "text/xml", list(entry("Varko", "1.1", "https://varko.example/downloads/v11.dmg")));
    EXPECT_TRUE(opened.isEmpty());  // Ignore
}

TEST_F(UpdateCheckTest, NoVersionNoRequest) {
    checker.checkForUpdates("");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].informativeText, "Can't check for updates:\nNo app version string found.");
    EXPECT_EQ(server.requests, 0);
}

}  // namespace
}  // namespace varko
