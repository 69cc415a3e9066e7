#include <gtest/gtest.h>

#include <QGuiApplication>
#include <ctime>

// Fonts are part of a line's data, so the model tests need a GUI application; a
// fixed zone makes display times predictable.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
