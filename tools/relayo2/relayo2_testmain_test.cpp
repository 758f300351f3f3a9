// Test main of the relayo2 tests: a QApplication on the offscreen platform for the set-up window.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program under test finds its home from the environment: the tests' own choices only.
    qunsetenv("TARVIK_HOME");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
