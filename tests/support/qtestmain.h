#pragma once

// A main for widget tests: GoogleTest inside a QApplication, with settings kept
// apart from the user's and from other test processes that ctest runs at the
// same time (a shared file lets one test's recent list show up in another's).

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#define VARKO_WIDGET_TEST_MAIN()                                                                  \
    int main(int argc, char** argv) {                                                             \
        qputenv("QT_QPA_PLATFORM",                                                                \
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM")); \
        QApplication app(argc, argv);                                                             \
        QStandardPaths::setTestModeEnabled(true);                                                 \
        QTemporaryDir settingsDir;                                                                \
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());    \
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());       \
        QApplication::setOrganizationName("VarkoTests");                                          \
        QApplication::setApplicationName("VarkoTests");                                           \
        ::testing::InitGoogleTest(&argc, argv);                                                   \
        return RUN_ALL_TESTS();                                                                   \
    }
