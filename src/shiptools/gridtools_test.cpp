// Copy Line, Clear and Find/Replace driven through their real dialogs.
#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include "shiptools/clearform.h"
#include "shiptools/copyform.h"
#include "shiptools/findrepl.h"
#include "shiptools/shiptools_fixture_test.h"
#include "widgets/gradientpanel.h"

namespace tarvik {
namespace {

using namespace tarvik::test;

// Types text into the dialog's edit (after emptying it) and clicks one of its buttons.
void typeAndClick(QWidget* dialog, const char* edit, const QString& text, const char* button) {
    auto* e = dialog->findChild<QLineEdit*>(QLatin1String(edit));
    ASSERT_NE(e, nullptr) << edit;
    e->clear();
    QTest::keyClicks(e, text);
    auto* b = dialog->findChild<QPushButton*>(QLatin1String(button));
    ASSERT_NE(b, nullptr) << button;
    QTest::mouseClick(b, Qt::LeftButton);
}

QStringList lineOf(const QString& service, int n) {
    return {service, QString::number(n), "5", "", "K1A 0B1", "CA", "1.00", "", "", "", "", "1.00"};
}

class CopyLineTest : public ShipToolsTest {
  protected:
    // Runs Copy Line on `row`, typing `count` into the dialog and pressing button.
    void copy(int row, const QString& count, const char* button = "btnOk") {
        grid_->setCurrentCell(P::ColService, row, true);
        whenModalShown([=, this](QWidget* w) {
            dialogTitle_ = w->windowTitle();
            dialogLabel1_ = w->findChild<QLabel*>("Label1")->text();
            dialogLabel2_ = w->findChild<QLabel*>("Label2")->text();
            typeAndClick(w, "ebxCopyTimes", count, button);
        });
        btnCopyLineClick(*page_);
    }
    QString dialogTitle_, dialogLabel1_, dialogLabel2_;
};

TEST_F(CopyLineTest, CopiesGoIntoTheFreeRowsBelow) {
    for (int r = 1; r <= 3; ++r) setLine(r, lineOf("Express", r));
    ScriptedPrompt prompt;
    bidId_->setFocus();
    copy(3, "2");
    EXPECT_EQ(dialogTitle_, "Copy Shipment Entry");
    EXPECT_EQ(dialogLabel1_, "This will copy Shipment Entry: 'Ship #3'.");
    EXPECT_EQ(dialogLabel2_, "How many copies?");
    EXPECT_EQ(line(4), line(3));
    EXPECT_EQ(line(5), line(3));
    EXPECT_TRUE(page_->lineIsEmpty(6));
    EXPECT_EQ(grid_->cell(P::ColLabel, 4), "#4");  // labels are not copied
    EXPECT_EQ(page_->lastLine(), 30);
    EXPECT_EQ(window_->focusWidget(), grid_);
}

// Copies go after the last line in use, whatever gaps lie between the lines: no line of the user's is
// written over, a line holding only its Service included.
TEST_F(CopyLineTest, CopiesGoAfterTheLastLineInUseAndOverwriteNoLine) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, QStringList>> lines;
        int from;
        const char* count;
        std::vector<int> copiesAt;
    };
    const Case cases[] = {
        {"gap below the copied line",
         {{1, lineOf("Express", 1)},
          {3, lineOf("Express", 3)},
          {5, lineOf("Ground", 5)},
          {6, lineOf("Ground", 6)}},
         3,
         "2",
         {7, 8}},
        {"a line of only its Service",
         {{1, lineOf("Express", 1)}, {2, lineOf("Ground", 2)}, {3, {"TB Ground"}}},
         1,
         "1",
         {4}},
        {"copied from the middle",
         {{1, lineOf("Express", 1)}, {2, lineOf("Ground", 2)}, {3, lineOf("Express", 3)}},
         2,
         "1",
         {4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        page_->setupGrid();
        for (const auto& [row, cells] : c.lines) setLine(row, cells);
        const QStringList copied = line(c.from);
        ScriptedPrompt prompt;
        copy(c.from, QLatin1String(c.count));
        for (const auto& [row, cells] : c.lines) {
            QStringList full = cells;
            while (full.size() < 12) full << QString();
            EXPECT_EQ(line(row), full) << "line " << row << " is kept";
        }
        for (int row : c.copiesAt) EXPECT_EQ(line(row), copied) << row;
        EXPECT_TRUE(page_->lineIsEmpty(c.copiesAt.back() + 1));
    }
}

TEST_F(CopyLineTest, CopyingPastTheEndAddsLinesAndOneEmptyLine) {
    for (int r = 1; r <= 30; ++r) setLine(r, lineOf("Express", r));
    ScriptedPrompt prompt;
    copy(29, "5");
    EXPECT_EQ(page_->lastLine(), 36);
    for (int r = 31; r <= 35; ++r) {
        EXPECT_EQ(line(r), line(29)) << r;
        EXPECT_EQ(grid_->cell(P::ColLabel, r), QStringLiteral("#%1").arg(r));
    }
    EXPECT_EQ(line(30), lineOf("Express", 30));
    EXPECT_TRUE(page_->lineIsEmpty(36));
}

TEST_F(CopyLineTest, EmptyLineCancelAndNonNumbersCopyNothing) {
    setLine(1, lineOf("Express", 1));
    const auto before = snapshot();
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Current Line is Empty!");
            EXPECT_EQ(r.caption, "Grid Copy");
            EXPECT_EQ(r.icon, PromptIcon::Error);
            EXPECT_EQ(r.buttons, Ok);
        });
        grid_->setCurrentCell(P::ColService, 2, true);
        btnCopyLineClick(*page_);  // no dialog: the prompt is the only thing shown
    }
    ScriptedPrompt prompt;
    copy(1, "3", "btnCancel");
    copy(1, "three");
    copy(1, "-2");
    copy(1, "0");
    EXPECT_EQ(snapshot(), before);
}

TEST_F(CopyLineTest, CopiesBeyondTheGridLimitAreRefused) {
    setLine(1, lineOf("Express", 1));
    const auto before = snapshot();
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.caption, "Grid Copy");
        EXPECT_EQ(r.icon, PromptIcon::Warning);
        EXPECT_TRUE(r.text.contains("65533")) << r.text.toStdString();
    });
    copy(1, "2000000000");
    EXPECT_EQ(snapshot(), before);
}

class ClearTest : public ShipToolsTest {
  protected:
    void clear(const QString& from, const char* button = "btnOk") {
        whenModalShown([=, this](QWidget* w) {
            dialogTitle_ = w->windowTitle();
            auto* to = w->findChild<QLineEdit*>("ebxClearTo");
            clearTo_ = to->text();
            clearToEnabled_ = to->isEnabled();
            clearFromShown_ = w->findChild<QLineEdit*>("ebxClearFrom")->text();
            texts_.clear();
            for (auto* l : w->findChildren<QLabel*>()) texts_ << l->text();
            for (auto* b : w->findChildren<QPushButton*>()) texts_ << b->text();
            typeAndClick(w, "ebxClearFrom", from, button);
        });
        btnClearShipGridClick(*page_, state_);
    }
    void fill(int lines) {
        for (int r = 1; r <= lines; ++r) setLine(r, lineOf("Express", r));
    }
    QString dialogTitle_, clearTo_, clearFromShown_;
    QStringList texts_;
    bool clearToEnabled_ = true;
};

TEST_F(ClearTest, FromRowOneLeavesThirtyEmptyLines) {
    fill(40);
    state_.FLastFromPostal = "H2X 1Y4";
    ScriptedPrompt prompt;
    bidId_->setFocus();
    clear("1");
    EXPECT_EQ(dialogTitle_, "Clear Shipment Entries");
    EXPECT_EQ(clearFromShown_, "1");
    texts_.sort();
    EXPECT_EQ(texts_, (QStringList{"&Cancel", "&Ok", "Clear out Shipment Entries -",
                                   "Ending at Row:", "Starting at Row:"}));
    EXPECT_EQ(clearTo_, "40");
    EXPECT_FALSE(clearToEnabled_);
    EXPECT_EQ(page_->lastLine(), 30);
    EXPECT_TRUE(page_->gridIsEmpty());
    EXPECT_EQ(grid_->cell(P::ColLabel, 30), "#30");
    EXPECT_TRUE(state_.FLastFromPostal.isEmpty());
    EXPECT_EQ(window_->focusWidget(), grid_);
}

TEST_F(ClearTest, FromRowTenKeepsTheLinesAbove) {
    fill(30);
    ScriptedPrompt prompt;
    clear("10");
    EXPECT_EQ(page_->lastLine(), 30);
    EXPECT_EQ(line(9), lineOf("Express", 9));
    for (int r = 10; r <= 30; ++r) EXPECT_TRUE(page_->lineIsEmpty(r)) << r;
}

TEST_F(ClearTest, FromRow35Of40CutsBackTo35) {
    fill(40);
    ScriptedPrompt prompt;
    clear("35");
    EXPECT_EQ(page_->lastLine(), 35);
    EXPECT_TRUE(page_->lineIsEmpty(35));
    EXPECT_EQ(grid_->cell(P::ColLabel, 35), "#35");
    for (int r = 1; r <= 34; ++r) EXPECT_EQ(line(r), lineOf("Express", r)) << r;
}

// A start row beyond the grid would add empty, unnumbered lines: it is refused and nothing changes.
TEST_F(ClearTest, AStartRowBeyondTheGridIsRefusedAndChangesNothing) {
    fill(30);
    state_.FLastFromPostal = "H2X 1Y4";
    const auto before = snapshot();
    ScriptedPrompt prompt;
    for (const char* start : {"31", "50", "2000000000"}) {
        prompt.answer(Ok, [start](const PromptRequest& r) {
            EXPECT_EQ(r.text,
                      QStringLiteral("Row %1 is beyond the last line (30): nothing was cleared.").arg(start));
            EXPECT_EQ(r.caption, "Clear Shipment Entries");
            EXPECT_EQ(r.icon, PromptIcon::Warning);
        });
        clear(QLatin1String(start));
        EXPECT_EQ(page_->lastLine(), 30) << start;
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(state_.FLastFromPostal, "H2X 1Y4");
}

TEST_F(ClearTest, CancelAndNonNumbersChangeNothing) {
    fill(35);
    state_.FLastFromPostal = "H2X 1Y4";
    const auto before = snapshot();
    ScriptedPrompt prompt;
    clear("1", "btnCancel");
    clear("first");
    clear("0");
    EXPECT_EQ(snapshot(), before);
}

class FindReplaceTest : public ShipToolsTest {
  protected:
    void SetUp() override {
        ShipToolsTest::SetUp();
        setLine(1, {"Express", "1", "1", "K1A 0B1", "K1A 0B1", "CA"});
        setLine(2, {"Express", "1", "1", "", "k1a 0b1", "CA"});
        setLine(3, {"Express", "1", "1", "", "K1A 0B1X", "GB"});  // not a Canadian code: not checked
        setLine(4, {"Express", "1", "1", "H2X 1Y4", "H2X 1Y4", "CA"});
    }
    // The code check after the window closes: line 2's lower-case code is not in POSTAL.
    static void expectLine2Reported(ScriptedPrompt& prompt) {
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.icon, PromptIcon::Error);
            EXPECT_EQ(r.caption, applicationTitle());
            EXPECT_EQ(r.text, "Invalid Postal Code(s) found: \r\nShip. #2 k1a 0b1");
        });
    }
    // Shows the window, runs script on it, and closes it with "&Cancel".
    void run(std::function<void(QWidget*)> script) {
        whenModalShown([=, this](QWidget* w) {
            window_flags_ = w->windowFlags();
            fromEnabled_ = w->findChild<QLineEdit*>("ebxFromFind")->isEnabled() &&
                           w->findChild<QLineEdit*>("ebxFromReplace")->isEnabled();
            script(w);
            stillOpen_ = w->isVisible();
            QTest::mouseClick(w->findChild<QPushButton*>("Button2"), Qt::LeftButton);
        });
        btnFindReplClick(*page_, state_);
    }
    static void type(QWidget* w, const char* edit, const QString& text) {
        auto* e = w->findChild<QLineEdit*>(QLatin1String(edit));
        ASSERT_TRUE(e->isEnabled()) << edit;
        QTest::keyClicks(e, text);
    }
    static void ok(QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>("btnOk"), Qt::LeftButton); }

    Qt::WindowFlags window_flags_;
    bool fromEnabled_ = true;
    bool stillOpen_ = false;
};

TEST_F(FindReplaceTest, ReplacesWholeCellsIgnoringCaseInPostalOnlyWithMobOff) {
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Replace ALL K1A 0B1 with M5V 3L9.  Are you sure?");
        EXPECT_EQ(r.icon, PromptIcon::Warning);
        EXPECT_EQ(r.buttons, Ok | Cancel);
    });
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Found 2 occurances of K1A 0B1...");
        EXPECT_EQ(r.icon, PromptIcon::Information);
        EXPECT_EQ(r.caption, applicationTitle());
    });
    QString typed;
    run([&](QWidget* w) {
        type(w, "ebxFind", "k1a 0b1");  // typed in lower case, shown in upper case
        type(w, "ebxReplace", "m5v 3l9");
        typed = w->findChild<QLineEdit*>("ebxFind")->text();
        ok(w);
    });
    EXPECT_EQ(typed, "K1A 0B1");
    EXPECT_FALSE(fromEnabled_);
    EXPECT_TRUE(stillOpen_);  // "&Ok" leaves the window open
    EXPECT_TRUE(window_flags_ & Qt::FramelessWindowHint);
    EXPECT_EQ(grid_->cell(P::ColPostal, 1), "M5V 3L9");
    EXPECT_EQ(grid_->cell(P::ColPostal, 2), "M5V 3L9");
    EXPECT_EQ(grid_->cell(P::ColPostal, 3), "K1A 0B1X");   // no partial match
    EXPECT_EQ(grid_->cell(P::ColFromPost, 1), "K1A 0B1");  // From Post. not searched
}

TEST_F(FindReplaceTest, NotFoundAndCancelChangeNothing) {
    const auto before = snapshot();
    ScriptedPrompt prompt;
    prompt.answer(Ok).answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Sorry, X9X 9X9 was not found...");
        EXPECT_EQ(r.icon, PromptIcon::Warning);
    });
    prompt.answer(Cancel);  // second try: the confirmation is cancelled, nothing more is said
    expectLine2Reported(prompt);
    run([&](QWidget* w) {
        type(w, "ebxFind", "X9X 9X9");
        type(w, "ebxReplace", "K1A 0B1");
        ok(w);
        w->findChild<QLineEdit*>("ebxFind")->setText("K1A 0B1");
        ok(w);
    });
    EXPECT_EQ(snapshot(), before);
}

TEST_F(FindReplaceTest, EmptyReplacementEmptiesCellsAndTheCheckReportsThem) {
    ScriptedPrompt prompt;
    prompt.answer(
        Ok, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Replace ALL H2X 1Y4 with .  Are you sure?"); });
    prompt.answer(Ok, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Found 1 occurances of H2X 1Y4..."); });
    // After the window closes every line is checked: line 2's code and line 4's now empty one fail.
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.text, "Invalid Postal Code(s) found: \r\nShip. #2 k1a 0b1\r\nShip. #4 ");
    });
    run([&](QWidget* w) {
        type(w, "ebxFind", "H2X 1Y4");
        ok(w);
    });
    EXPECT_TRUE(grid_->cell(P::ColPostal, 4).isEmpty());
    EXPECT_EQ(grid_->cell(P::ColFromPost, 4), "H2X 1Y4");
}

TEST_F(FindReplaceTest, WithMobOnBothPassesRunToPostalFirst) {
    mob_->setChecked(true);
    grid_->setCell(P::ColPostal, 3, "K1A 0B1");  // every code valid, so no message after closing
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Replace ALL K1A 0B1 with M5V 3L9.  Are you sure?");
    });
    prompt.answer(Ok, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Found 3 occurances of K1A 0B1..."); });
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Replace ALL K1A 0B1 with H2X 1Y4.  Are you sure?");
    });
    prompt.answer(Ok, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Found 1 occurances of K1A 0B1..."); });
    run([&](QWidget* w) {
        type(w, "ebxFind", "K1A 0B1");
        type(w, "ebxReplace", "M5V 3L9");
        type(w, "ebxFromFind", "K1A 0B1");
        type(w, "ebxFromReplace", "H2X 1Y4");
        ok(w);
    });
    EXPECT_TRUE(fromEnabled_);
    EXPECT_EQ(grid_->cell(P::ColPostal, 1), "M5V 3L9");
    EXPECT_EQ(grid_->cell(P::ColPostal, 3), "M5V 3L9");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 1), "H2X 1Y4");
    EXPECT_EQ(grid_->cell(P::ColFromPost, 4), "H2X 1Y4");
}

TEST_F(FindReplaceTest, WindowIsFilledByAGradientPanel) {
    ScriptedPrompt prompt;
    expectLine2Reported(prompt);
    QImage image;
    QStringList labels;
    run([&](QWidget* w) {
        auto* panel = w->findChild<GradientPanel*>();
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->size(), w->size());
        panel->setShapesVisible(false);
        image = panel->grab().toImage();
        for (auto* l : w->findChildren<QLabel*>()) labels << l->text();
    });
    ASSERT_FALSE(image.isNull());
    const QColor top = image.pixelColor(2, 1);
    const QColor bottom = image.pixelColor(2, image.height() - 2);
    EXPECT_GT(top.lightness(), bottom.lightness());  // light at the top, darker at the bottom
    labels.sort();
    EXPECT_EQ(labels, (QStringList{"Find Postal/Zip", "From Postal", "To Postal", "and Replace ALL with"}));
}

class ToolButtonsTest : public ShipToolsTest {};

TEST_F(ToolButtonsTest, ButtonsCarryTheirHintsAndRunTheirHandlers) {
    wireShipmentTools(*page_, state_, {});
    auto button = [this](const char* name) { return page_->findChild<QPushButton*>(QLatin1String(name)); };
    EXPECT_EQ(button("btnImport")->toolTip(), "Reads in Comma Seperated Data from Export.txt");
    EXPECT_EQ(button("btnCopyLine")->toolTip(), "Copy the Current Line Multiple times...");
    EXPECT_EQ(button("btnClearShipGrid")->toolTip(), "Clear out ALL entered Shipment Information");
    EXPECT_EQ(button("btnFindRepl")->toolTip(), "Find and Replace Postal Codes Mutiple times...");

    ScriptedPrompt prompt;
    bidId_->clear();
    prompt.answer(Ok,
                  [](const PromptRequest& r) { EXPECT_EQ(r.text, "Need to have a Local Bid ID first..."); });
    QTest::mouseClick(button("btnImport"), Qt::LeftButton);
    grid_->setCurrentCell(P::ColService, 1, true);
    prompt.answer(Ok, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Current Line is Empty!"); });
    QTest::mouseClick(button("btnCopyLine"), Qt::LeftButton);

    QStringList titles;
    whenModalShown([&](QWidget* w) {
        titles << w->windowTitle();
        QTest::mouseClick(w->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(button("btnClearShipGrid"), Qt::LeftButton);
    bool findShown = false;
    whenModalShown([&](QWidget* w) {
        findShown = w->findChild<GradientPanel*>() != nullptr;
        QTest::mouseClick(w->findChild<QPushButton*>("Button2"), Qt::LeftButton);
    });
    QTest::mouseClick(button("btnFindRepl"), Qt::LeftButton);
    EXPECT_EQ(titles, QStringList{"Clear Shipment Entries"});
    EXPECT_TRUE(findShown);
    EXPECT_EQ(prompt.pending(), 0);
}

}  // namespace
}  // namespace tarvik
