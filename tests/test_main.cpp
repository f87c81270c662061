#include <gtest/gtest.h>

#include <QApplication>

#include "core/platform.h"

// Every test binary runs with a QApplication, headless under CTest (QT_QPA_PLATFORM=offscreen).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("importflx");
    platform::QuietSqlDriverWarnings();
    return RUN_ALL_TESTS();
}
