#pragma once

// A main for widget tests: GoogleTest inside a QApplication, with settings kept
// apart from the user's.

#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

#define VARKO_WIDGET_TEST_MAIN()                                      \
    int main(int argc, char** argv) {                                 \
        qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM")); \
        QApplication app(argc, argv);                                 \
        QStandardPaths::setTestModeEnabled(true);                     \
        QApplication::setOrganizationName("VarkoTests");              \
        QApplication::setApplicationName("VarkoTests");               \
        ::testing::InitGoogleTest(&argc, argv);                       \
        return RUN_ALL_TESTS();                                       \
    }
