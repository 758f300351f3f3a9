// Test main for every Qt test program: a QApplication on the offscreen platform, and the scripted
// prompt installed as a guard so that a message box no test expected fails the test instead of
// waiting for a person.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

#include "testsupport/scriptedprompt.h"

namespace {
class NoUnexpectedPrompts : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { guard_ = new tarvik::test::ScriptedPrompt(); }
    void OnTestEnd(const ::testing::TestInfo&) override {
        // Tests install their own ScriptedPrompt on top; the guard only catches prompts outside them.
        delete guard_;
        guard_ = nullptr;
    }
    tarvik::test::ScriptedPrompt* guard_ = nullptr;
};
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    // Programs the tests start find their home from the environment: the tests' own choices only.
    qunsetenv("TARVIK_HOME");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Incentive Model"));
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new NoUnexpectedPrompts);
    return RUN_ALL_TESTS();
}
