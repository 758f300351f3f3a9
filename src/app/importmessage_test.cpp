#include "app/importmessage.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QWidget>

#include "testsupport/scriptedprompt.h"

namespace tarvik {
namespace {

using test::ScriptedPrompt;

void expectAbortQuestion(const PromptRequest& r) {
    EXPECT_EQ(r.text, QStringLiteral("Abort Import?"));
    EXPECT_EQ(r.caption, QStringLiteral("Shipment Data Import"));
    EXPECT_EQ(r.icon, PromptIcon::Question);
    EXPECT_EQ(r.buttons, Yes | No);
}

TEST(ImportMessage, DesignedTextsAndLook) {
    MainState state;
    QWidget owner;
    owner.resize(600, 500);
    TImportMessage msg(state, &owner);
    EXPECT_EQ(msg.windowTitle(), QStringLiteral("Importing..."));
    EXPECT_EQ(msg.Label1->objectName(), QStringLiteral("Label1"));
    EXPECT_EQ(msg.Label1->text(), QStringLiteral("Importing Information, Please Wait..."));
    EXPECT_TRUE(msg.Label1->wordWrap());
    EXPECT_EQ(msg.Label1->font().pixelSize(), 13);
    EXPECT_EQ(msg.font().pixelSize(), 11);
    EXPECT_EQ(msg.Label2->objectName(), QStringLiteral("Label2"));
    EXPECT_TRUE(msg.Label2->text().isEmpty());
    // No title-bar buttons.
    EXPECT_FALSE(msg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(msg.windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(msg.parentWidget(), &owner);
}

TEST(ImportMessage, CallersWordingShownWithoutBlocking) {
    MainState state;
    QWidget owner;
    owner.show();
    {
        TImportMessage msg(state, &owner);
        msg.setWindowTitle(QStringLiteral("File Write"));
        msg.Label1->setText(QStringLiteral("Storing Bid Information..."));
        msg.showNow();  // returns at once: the window is not modal
        EXPECT_TRUE(msg.isVisible());
        EXPECT_FALSE(msg.isModal());
        EXPECT_EQ(msg.windowTitle(), QStringLiteral("File Write"));
        msg.Label2->setText(QStringLiteral("14"));
        EXPECT_EQ(msg.Label2->text(), QStringLiteral("14"));
    }
    // Freed by the caller: gone.
    EXPECT_TRUE(owner.findChildren<TImportMessage*>().isEmpty());
}

TEST(ImportMessage, DoubleClickAsksTheAbortQuestion) {
    MainState state;
    QWidget owner;
    TImportMessage msg(state, &owner);
    msg.showNow();
    ScriptedPrompt prompt;

    prompt.answer(No, expectAbortQuestion);
    QTest::mouseDClick(msg.Label1, Qt::LeftButton);
    EXPECT_FALSE(state.FImportAbort);
    EXPECT_EQ(prompt.shown().size(), 1u);

    prompt.answer(Yes, expectAbortQuestion);
    QTest::mouseDClick(msg.Label1, Qt::LeftButton);
    EXPECT_TRUE(state.FImportAbort);

    // On the window itself too; No leaves a request already made standing.
    prompt.answer(No, expectAbortQuestion);
    QTest::mouseDClick(&msg, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_TRUE(state.FImportAbort);
    EXPECT_EQ(prompt.shown().size(), 3u);
}

TEST(ImportMessage, EscapeDoesNotCloseIt) {
    MainState state;
    QWidget owner;
    TImportMessage msg(state, &owner);
    msg.showNow();
    QTest::keyClick(&msg, Qt::Key_Escape);
    EXPECT_TRUE(msg.isVisible());
}

}  // namespace
}  // namespace tarvik
