// Import of shipment lines from text files and from workbooks written by xlwt, driven through the
// "&Import Data" command with scripted file choices and answers.
#include "shiptools/importdata.h"

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QTest>

#include "shiptools/shiptools_fixture_test.h"

namespace tarvik {
namespace {

using namespace tarvik::test;

// ---- Cutting and decoding ----

TEST(ImportText, FieldsAreCutAtCommasOrAtTabsOnly) {
    EXPECT_EQ(CutImportLine("A,,C", 12), (QStringList{"A", "", "C"}));
    // A tab anywhere on the line makes the tab the separator; commas stay inside fields.
    EXPECT_EQ(CutImportLine("Express\t3\t5,5\tM5V 3L9", 12), (QStringList{"Express", "3", "5,5", "M5V 3L9"}));
    // Blanks around fields go, a trailing separator gives an empty last field.
    EXPECT_EQ(CutImportLine("  a , b ,", 12), (QStringList{"a", "b", ""}));
    // At most as many fields as columns: the rest of the line is ignored.
    EXPECT_EQ(CutImportLine("1,2,3,4,5", 3), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(CutImportLine("", 12), (QStringList{""}));
}

TEST(ImportText, QuotesGoFromBothEndsOnly) {
    EXPECT_EQ(CutImportLine("\"", 12), (QStringList{""}));
    EXPECT_EQ(CutImportLine("\"K1A 0B1\",\"x\"y\"", 12), (QStringList{"K1A 0B1", "x\"y"}));
    // A quoted field is cut at a separator inside it.
    EXPECT_EQ(CutImportLine("\"Smith, J\",2", 12), (QStringList{"Smith", "J", "2"}));
}

TEST(ImportText, LongFieldsFollowTheWindowAndTheCut) {
    const QString long150 = QString(150, QLatin1Char('x'));
    // No separator: the rest of the line, at most 99 characters.
    EXPECT_EQ(CutImportLine(long150, 12), (QStringList{QString(99, QLatin1Char('x'))}));
    // A separator within the next 999 characters ends the field, however long it is.
    const QString f998 = QString(998, QLatin1Char('y'));
    EXPECT_EQ(CutImportLine(f998 + ",b", 12), (QStringList{f998, "b"}));
    // One beyond them is not seen: the field is cut to 99 characters and ends the line.
    const QString f1200 = QString(1200, QLatin1Char('z'));
    EXPECT_EQ(CutImportLine(f1200 + ",b", 12), (QStringList{QString(99, QLatin1Char('z'))}));
}

TEST(ImportText, Utf8WithOrWithoutBomElseWindows1252) {
    EXPECT_EQ(DecodeImportText(QByteArray("\xEF\xBB\xBFZ\xC3\xBCrich")), QString::fromUtf8("Zürich"));
    EXPECT_EQ(DecodeImportText(QByteArray("Z\xC3\xBCrich \xE2\x82\xAC")), QString::fromUtf8("Zürich €"));
    EXPECT_EQ(DecodeImportText(QByteArray("Montr\xE9"
                                          "al \x80 \x93q\x94")),
              QString::fromUtf8("Montréal € “q”"));
}

TEST(ImportText, LinesEndAtCrLfLfOrCr) {
    EXPECT_EQ(SplitImportLines("a\r\nb\nc\rd"), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitImportLines("a\r\n\r\nb\r\n"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(SplitImportLines("\n"), (QStringList{""}));
    EXPECT_TRUE(SplitImportLines("").isEmpty());
}

// ---- The text import through the command ----

class TextImportTest : public ShipToolsTest {};

TEST_F(TextImportTest, LinesFillRowsInOrderWithMobOff) {
    writeBytes(path("ship.txt"),
               "Express,2,10,K1A 0B1,CA,12.50,1,0,0,fuel,99\r\n"
               "Ground,,C\r\n"
               "\r\n"
               "Express\t3\t5,5\tM5V 3L9\tCA\r\n"
               "\"\r\n" +
                   QByteArray(150, 'L') + "\r\n");
    ScriptedFileChooser files;
    files.next(path("ship.txt"));
    ScriptedPrompt prompt;  // grid empty: no question; codes valid: no message
    importer_->btnImportClick();

    EXPECT_EQ(line(1), (QStringList{"Express", "2", "10", "", "K1A 0B1", "CA", "12.50", "1", "0", "0", "fuel",
                                    "13.50"}));
    EXPECT_EQ(line(2), (QStringList{"Ground", "", "C", "", "", "", "", "", "", "", "", ""}));
    EXPECT_TRUE(page_->lineIsEmpty(3));
    EXPECT_EQ(line(4), (QStringList{"Express", "3", "5,5", "", "M5V 3L9", "CA", "", "", "", "", "", ""}));
    EXPECT_TRUE(page_->lineIsEmpty(5));
    EXPECT_EQ(grid_->cell(P::ColService, 6), QString(99, QLatin1Char('L')));
    EXPECT_EQ(filledLines(), 4);
    EXPECT_EQ(page_->lastLine(), 30);

    // The progress window was shown with its caption and designed text, and is gone.
    EXPECT_EQ(progressMade_, 1);
    EXPECT_EQ(seen_.caption, "File Import");
    EXPECT_EQ(seen_.label1, "Importing Information, Please Wait...");
    EXPECT_EQ(seen_.label2, "6");  // the last grid row written
    EXPECT_TRUE(progress_.isNull());
    EXPECT_TRUE(window_->isEnabled());
    // The file chooser was asked with the filter and the program folder.
    ASSERT_EQ(files.requests().size(), 1u);
    EXPECT_EQ(files.requests()[0].folder, dir_.path());
    EXPECT_TRUE(files.requests()[0].filter.contains("*.XLS"));
    EXPECT_TRUE(files.requests()[0].filter.contains("*.TXT"));
    EXPECT_TRUE(files.requests()[0].filter.contains("All Files"));
}

TEST_F(TextImportTest, MobOnFillsFromPostAndIgnoresExtraFields) {
    mob_->setChecked(true);
    writeBytes(path("mob.txt"), "Express,2,10,H2X 1Y4,K1A 0B1,CA,1,2,3,4,desc,zzz,extra\n");
    ScriptedFileChooser files;
    files.next(path("mob.txt"));
    ScriptedPrompt prompt;
    importer_->btnImportClick();
    EXPECT_EQ(line(1), (QStringList{"Express", "2", "10", "H2X 1Y4", "K1A 0B1", "CA", "1", "2", "3", "4",
                                    "desc", "10.00"}));
    EXPECT_TRUE(page_->lineIsEmpty(2));
}

// Appended lines go after the last line in use, never into a gap between the user's lines.
TEST_F(TextImportTest, AppendGoesAfterTheLastLineInUse) {
    setLine(1, {"Express", "1"});
    setLine(2, {"Express", "2"});
    setLine(4, {"Ground", "4", "", "", "", "", "", "", "", "", "old desc"});
    setLine(5, {"Ground", "5"});
    writeBytes(path("gap.txt"), "TB Ground,7\nTB Express,8\n");
    ScriptedFileChooser files;
    files.next(path("gap.txt"));
    ScriptedPrompt prompt;
    prompt.answer(No, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Information already entered.  Overwrite? ('No' will Append)");
        EXPECT_EQ(r.caption, "WARNING");
        EXPECT_EQ(r.icon, PromptIcon::Warning);
        EXPECT_EQ(r.buttons, Yes | No | Cancel);
    });
    importer_->btnImportClick();
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 1), "1");
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 2), "2");
    EXPECT_TRUE(page_->lineIsEmpty(3)) << "the gap stays a gap";
    EXPECT_EQ(line(4), (QStringList{"Ground", "4", "", "", "", "", "", "", "", "", "old desc", ""}));
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 5), "5");
    EXPECT_EQ(line(6), (QStringList{"TB Ground", "7", "", "", "", "", "", "", "", "", "", ""}));
    EXPECT_EQ(line(7), (QStringList{"TB Express", "8", "", "", "", "", "", "", "", "", "", ""}));
}

TEST_F(TextImportTest, OverwriteStartsFromAFreshGridAndCancelChangesNothing) {
    for (int r = 1; r <= 40; ++r) setLine(r, {"Express", QString::number(r)});
    const auto before = snapshot();
    writeBytes(path("o.txt"), "Ground,1\nGround,2\n");
    {
        ScriptedFileChooser files;
        files.next(path("o.txt"));
        ScriptedPrompt prompt;
        prompt.answer(Cancel);
        importer_->btnImportClick();
        EXPECT_EQ(snapshot(), before);
        EXPECT_EQ(progressMade_, 0);
    }
    ScriptedFileChooser files;
    files.next(path("o.txt"));
    ScriptedPrompt prompt;
    prompt.answer(Yes);
    importer_->btnImportClick();
    EXPECT_EQ(page_->lastLine(), 30);
    EXPECT_EQ(filledLines(), 2);
    EXPECT_EQ(grid_->cell(P::ColService, 2), "Ground");
    EXPECT_EQ(grid_->cell(P::ColLabel, 30), "#30");
}

// After an import the grid shows the first imported line (at its top, as far as the grid scrolls),
// wherever it was scrolled to: an
// overwrite of a long grid read while scrolled down, or lines appended after a long grid read from its top.
TEST_F(TextImportTest, TheGridShowsTheFirstImportedLine) {
    struct Case {
        const char* what;
        int answer;         // to "Overwrite?"
        bool scrolledDown;  // the grid scrolled to its end before the import
        int firstLine;
    };
    for (const Case& c : {Case{"overwrite while scrolled down", Yes, true, 1},
                          Case{"append while at the top", No, false, 201}}) {
        SCOPED_TRACE(c.what);
        for (int r = 1; r <= 200; ++r) setLine(r, {"Express", QString::number(r)});
        if (c.scrolledDown)
            grid_->scrollToBottom();
        else
            grid_->scrollToTop();
        QApplication::processEvents();
        writeBytes(path("first.txt"), "Ground,1\nGround,2\n");
        ScriptedFileChooser files;
        files.next(path("first.txt"));
        ScriptedPrompt prompt;
        prompt.answer(c.answer);
        importer_->btnImportClick();
        QApplication::processEvents();
        EXPECT_EQ(grid_->cell(P::ColService, c.firstLine), "Ground");
        EXPECT_TRUE(grid_->isCellFullyVisible(P::ColService, c.firstLine)) << "top row " << grid_->topRow();
        // As near the top as the grid scrolls: the lines after it fill the view.
        EXPECT_TRUE(grid_->topRow() == c.firstLine ||
                    grid_->verticalScrollBar()->value() == grid_->verticalScrollBar()->maximum())
            << "top row " << grid_->topRow();
        page_->setupGrid();
    }
}

// A grid without an empty line (every line keyed, none appended): appending goes after the last line,
// never over line 1.
TEST_F(TextImportTest, LinesBeyondTheGridAreAppendedAndAnEmptyLineFollows) {
    for (int r = 1; r <= 30; ++r) setLine(r, {"Express", QString::number(r)});
    writeBytes(path("more.txt"), "Ground,31\nGround,32\nGround,33");
    ScriptedFileChooser files;
    files.next(path("more.txt"));
    ScriptedPrompt prompt;
    prompt.answer(No);
    importer_->btnImportClick();
    EXPECT_EQ(page_->lastLine(), 34);
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 1), "1");
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 31), "31");
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 33), "33");
    EXPECT_EQ(grid_->cell(P::ColLabel, 33), "#33");
    EXPECT_TRUE(page_->lineIsEmpty(34));
    EXPECT_EQ(grid_->cell(P::ColLabel, 34), "#34");
}

TEST_F(TextImportTest, TextInUtf8OrWindows1252) {
    writeBytes(path("enc1.txt"),
               "\xEF\xBB\xBF"
               "Express,1,,,,,,,,Z\xC3\xBCrich\n");
    writeBytes(path("enc2.txt"),
               "Express,2,,,,,,,,Montr\xE9"
               "al\n");
    ScriptedFileChooser files;
    files.next(path("enc1.txt")).next(path("enc2.txt"));
    ScriptedPrompt prompt;
    prompt.answer(No);
    importer_->btnImportClick();
    importer_->btnImportClick();
    EXPECT_EQ(grid_->cell(P::ColOtherDesc, 1), QString::fromUtf8("Zürich"));
    EXPECT_EQ(grid_->cell(P::ColOtherDesc, 2), QString::fromUtf8("Montréal"));
}

TEST_F(TextImportTest, InvalidCodesAreReportedAndKept) {
    writeBytes(path("bad.txt"), "Express,1,2,Z9Z 9Z9,CA\nTB Ground,1,2,99999,US\n");
    ScriptedFileChooser files;
    files.next(path("bad.txt"));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.caption, "Postal / Zip Code LookUp");
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.buttons, Ok);
        EXPECT_TRUE(r.text.contains("Ship. #1 Z9Z 9Z9")) << r.text.toStdString();
        EXPECT_TRUE(r.text.contains("Ship. #2 99999")) << r.text.toStdString();
    });
    importer_->btnImportClick();
    EXPECT_EQ(grid_->cell(P::ColPostal, 1), "Z9Z 9Z9");
    EXPECT_EQ(grid_->cell(P::ColPostal, 2), "99999");
}

// Imported values longer than the fields that store them are kept whole, and the import names each one
// with its column and line (the columns take the limits of BidTail as the program gives them).
TEST_F(TextImportTest, ValuesLongerThanTheirFieldsAreKeptAndNamed) {
    grid_->cellLimit = [](int col, int) {
        return col == P::ColOtherDesc ? FieldLimit{'C', 40, 0}
               : col == P::ColCmpRate ? FieldLimit{'C', 12, 0}
                                      : FieldLimit{};
    };
    const QString desc = QString(45, QLatin1Char('d'));
    writeBytes(
        path("long.txt"),
        ("Express,1,2,K1A 0B1,CA,1234567890123,,,,ok\nExpress,1,2,K1A 0B1,CA,12,,,," + desc + "\n").toUtf8());
    ScriptedFileChooser files;
    files.next(path("long.txt"));
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.caption, "File Import");
        EXPECT_EQ(r.icon, PromptIcon::Warning);
        EXPECT_EQ(r.text,
                  "These imported values do not fit the bid tables:\r\n\r\n"
                  "Cmp Rate$, shipment line 1: 13 characters; the field keeps 12\r\n"
                  "Other Desc, shipment line 2: 45 characters; the field keeps 40\r\n\r\n"
                  "They stay in the grid as imported; shorten them before the bid is stored.");
    });
    importer_->btnImportClick();
    EXPECT_EQ(grid_->cell(P::ColCmpRate, 1), "1234567890123");
    EXPECT_EQ(grid_->cell(P::ColOtherDesc, 2), desc);
}

TEST_F(TextImportTest, PickersShowTheCurrentLine) {
    page_->servicesPicker()->addItems({"Express", "Ground"});
    page_->countryPicker()->addItems({"CA    Canada", "US    United States"});
    grid_->setCurrentCell(P::ColService, 2, true);
    writeBytes(path("p.txt"), "Express,1,,,CA\nGround,1,,,US\n");
    ScriptedFileChooser files;
    files.next(path("p.txt"));
    ScriptedPrompt prompt;
    prompt.answer(Ok);  // the US line has no zip code
    importer_->btnImportClick();
    EXPECT_EQ(page_->servicesPicker()->currentText(), "Ground");
    EXPECT_EQ(page_->countryPicker()->currentText(), "US    United States");
}

TEST_F(TextImportTest, AtMost65535LinesAndAtMost64MB) {
    QByteArray many;
    for (int i = 1; i <= kLastImportRow + 2; ++i) many += "Ground," + QByteArray::number(i) + "\n";
    writeBytes(path("many.txt"), many);
    {
        QFile big(path("big.txt"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(kMaxImportTextBytes + 1));
    }
    setLine(1, {"Express", "1"});
    const auto before = snapshot();
    {
        ScriptedFileChooser files;
        files.next(path("big.txt"));
        ScriptedPrompt prompt;
        prompt.answer(Yes);
        prompt.answer(Ok, [this](const PromptRequest& r) {
            EXPECT_EQ(r.icon, PromptIcon::Error);
            EXPECT_TRUE(r.text.contains(QDir::toNativeSeparators(path("big.txt"))));
            EXPECT_TRUE(r.text.contains("larger than 64 MB")) << r.text.toStdString();
        });
        importer_->btnImportClick();
        EXPECT_EQ(snapshot(), before);
    }
    ScriptedFileChooser files;
    files.next(path("many.txt"));
    ScriptedPrompt prompt;
    prompt.answer(Yes);
    prompt.answer(Ok, [this](const PromptRequest& r) {
        EXPECT_EQ(r.icon, PromptIcon::Warning);
        EXPECT_EQ(r.text, "Only the first 65535 lines of " + QDir::toNativeSeparators(path("many.txt")) +
                              " were imported.");
        EXPECT_TRUE(progress_.isNull());
    });
    importer_->btnImportClick();
    EXPECT_EQ(grid_->cell(P::ColTotPcs, kLastImportRow), QString::number(kLastImportRow));
    EXPECT_EQ(page_->lastLine(), kLastImportRow + 1);
    EXPECT_TRUE(page_->lineIsEmpty(kLastImportRow + 1));
}

// ---- The command's checks ----

class ImportCommandTest : public ShipToolsTest {};

TEST_F(ImportCommandTest, NeedsALocalBidId) {
    bidId_->setText("   ");
    ScriptedFileChooser files;  // never asked
    ScriptedPrompt prompt;
    prompt.answer(Ok, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Need to have a Local Bid ID first...");
        EXPECT_EQ(r.caption, "ERROR");
        EXPECT_EQ(r.icon, PromptIcon::Error);
    });
    importer_->btnImportClick();
    EXPECT_TRUE(files.requests().empty());
}

TEST_F(ImportCommandTest, ExtensionRuleInAnyLetterCase) {
    for (const char* name : {"a.xlsx", "a.csv", "noext"}) {
        writeBytes(path(name), "Express,1\n");
        ScriptedFileChooser files;
        files.next(path(name));
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Import File type (s/b .xls or .txt) invalid!");
            EXPECT_EQ(r.caption, "ERROR");
            EXPECT_EQ(r.icon, PromptIcon::Error);
            EXPECT_EQ(r.buttons, Ok);
        });
        importer_->btnImportClick();
        EXPECT_TRUE(page_->gridIsEmpty()) << name;
    }
    writeBytes(path("mixed.Txt"), "Express,1\n");
    ASSERT_TRUE(writeWorkbook(path("upper.XLS"), {{"Ground", 2}}));
    ScriptedFileChooser files;
    files.next(path("mixed.Txt")).next(path("upper.XLS"));
    ScriptedPrompt prompt;
    prompt.answer(No);  // append after the text line
    prompt.answer(No);  // no header row
    importer_->btnImportClick();
    importer_->btnImportClick();
    EXPECT_EQ(grid_->cell(P::ColService, 1), "Express");
    EXPECT_EQ(grid_->cell(P::ColService, 2), "Ground");
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 2), "2");
}

TEST_F(ImportCommandTest, StartFolderIsRememberedAndCancelDoesNothing) {
    QDir(dir_.path()).mkpath("in/box");
    writeBytes(path("in/box/a.txt"), "Express,1\n");
    ScriptedFileChooser files;
    files.next(path("in/box/a.txt")).next(QString());
    ScriptedPrompt prompt;
    importer_->btnImportClick();
    const auto before = snapshot();
    importer_->btnImportClick();  // cancelled
    EXPECT_EQ(snapshot(), before);
    ASSERT_EQ(files.requests().size(), 2u);
    EXPECT_EQ(files.requests()[0].folder, dir_.path());
    EXPECT_EQ(QDir(files.requests()[1].folder), QDir(path("in/box")));
}

TEST_F(ImportCommandTest, UnreadableFilesLeaveTheGridAsItWas) {
    setLine(1, {"Express", "1"});
    setLine(3, {"Ground", "3"});
    const auto before = snapshot();
    writeBytes(path("junk.xls"), "this is not a workbook at all\n");
    struct Case {
        QString file;
        QString reason;
        bool spreadsheet;
    };
    std::vector<Case> cases = {{path("gone.txt"), "does not exist", false},
                               {path("gone.xls"), "does not exist", true},
                               {path("junk.xls"), "not a readable .xls workbook", true}};
    // A folder named like a text file cannot be read as one.
    QDir(dir_.path()).mkpath("folder.txt");
    cases.push_back({path("folder.txt"), "directory", false});
    if (geteuid() != 0) {
        writeBytes(path("locked.txt"), "Express,9\n");
        QFile::setPermissions(path("locked.txt"), QFileDevice::Permissions());
        cases.push_back({path("locked.txt"), "ermission", false});
    }
    for (const Case& c : cases) {
        ScriptedFileChooser files;
        files.next(c.file);
        ScriptedPrompt prompt;
        prompt.answer(Yes);                    // overwrite
        if (c.spreadsheet) prompt.answer(No);  // header row
        prompt.answer(Ok, [&](const PromptRequest& r) {
            EXPECT_EQ(r.icon, PromptIcon::Error);
            EXPECT_EQ(r.caption, "ERROR");
            EXPECT_TRUE(r.text.contains(QDir::toNativeSeparators(c.file))) << r.text.toStdString();
            EXPECT_TRUE(r.text.contains(c.reason)) << r.text.toStdString();
            // The progress window is closed and the main window usable when the error is shown.
            EXPECT_TRUE(progress_.isNull());
            EXPECT_TRUE(window_->isEnabled());
        });
        importer_->btnImportClick();
        EXPECT_EQ(snapshot(), before) << c.file.toStdString();
        EXPECT_TRUE(progress_.isNull());
        EXPECT_TRUE(window_->isEnabled());
    }
}

// ---- Spreadsheets ----

class SpreadsheetImportTest : public ShipToolsTest {
  protected:
    void importSheet(const Sheet& sheet, bool header, const char* name = "s.xls") {
        QString error;
        ASSERT_TRUE(writeWorkbook(path(name), sheet, &error)) << error.toStdString();
        ScriptedFileChooser files;
        files.next(path(name));
        ScriptedPrompt prompt;
        if (!page_->gridIsEmpty()) prompt.answer(Yes);
        prompt.answer(header ? Yes : No, [this](const PromptRequest& r) {
            EXPECT_EQ(r.text, "Does the Excel file contain a Header row?");
            EXPECT_EQ(r.caption, applicationTitle());
            EXPECT_EQ(r.buttons, Yes | No);
            // Shown while the progress window is up and the main window disabled.
            ASSERT_FALSE(progress_.isNull());
            EXPECT_TRUE(progress_->isVisible());
            EXPECT_EQ(progress_->shownCaption, "File Import");
            EXPECT_TRUE(progress_->shownLabel1.startsWith("DblClick here to ABORT\nImporting Information"));
            EXPECT_EQ(progress_->findChild<QLabel*>("Label1")->y(), 12);
            EXPECT_FALSE(window_->isEnabled());
        });
        importer_->btnImportClick();
        EXPECT_TRUE(progress_.isNull());
        EXPECT_TRUE(window_->isEnabled());
    }
};

TEST_F(SpreadsheetImportTest, HeaderRowNumbersDatesTextAndMobOff) {
    const QVariant none;
    const Sheet sheet = {
        {"Service", "Pcs", "Wgt", "Postal", "Cty", "Rate", "PU", "Fwd", "Oth", "Desc", "Total", "L col"},
        {"Express", 12, 2.5, "K1A 0B1", "CA", 0.1, 1, none, none, QDate(2024, 3, 5), 99, "not read"},
        {none, 5, 5, "M5V 3L9"},  // no Service: skipped
        {"  Ground ", "  3 ", 1234567.125, "M5V 3L9", "CA", -2, 1e20},
    };
    importSheet(sheet, true);
    EXPECT_EQ(line(1), (QStringList{"Express", "12", "2.5", "", "K1A 0B1", "CA", "0.1", "1", "", "",
                                    dateToText(QDate(2024, 3, 5)), "1.10"}));
    EXPECT_EQ(dateToText(QDate(2024, 3, 5)), "3/5/2024");
    // Cells go in unchanged, blanks included; the line below follows without a gap.
    EXPECT_EQ(line(2), (QStringList{"  Ground ", "  3 ", "1234567.125", "", "M5V 3L9", "CA", "-2", "1e+20",
                                    "", "", "", line(2).last()}));
    EXPECT_FALSE(line(2).last().isEmpty());
    EXPECT_EQ(filledLines(), 2);
}

TEST_F(SpreadsheetImportTest, NoHeaderRowAndMobOn) {
    mob_->setChecked(true);
    const Sheet sheet = {
        {"Express", 1, 2, "H2X 1Y4", "K1A 0B1", "CA", 1, 2, 3, 4, "desc", 77},
        {"Ground", 3, 4, "H2X 1Y5", "M5V 3L9", "CA"},
    };
    importSheet(sheet, false);
    EXPECT_EQ(line(1), (QStringList{"Express", "1", "2", "H2X 1Y4", "K1A 0B1", "CA", "1", "2", "3", "4",
                                    "desc", "10.00"}));
    EXPECT_EQ(grid_->cell(P::ColFromPost, 2), "H2X 1Y5");
    EXPECT_EQ(filledLines(), 2);
}

TEST_F(SpreadsheetImportTest, EmptyColumnACellsAreSkipped) {
    const QVariant none;
    Sheet sheet;
    for (int r = 1; r <= 12; ++r) {
        if (r % 3 == 0)
            sheet.push_back({none, r});
        else if (r == 5)
            sheet.push_back({"   ", r});  // blanks only: skipped as well
        else
            sheet.push_back({"Express", r});
    }
    importSheet(sheet, false);
    QStringList pcs;
    for (int l = 1; l <= filledLines(); ++l) pcs << grid_->cell(P::ColTotPcs, l);
    EXPECT_EQ(pcs, (QStringList{"1", "2", "4", "7", "8", "10", "11"}));
}

TEST_F(SpreadsheetImportTest, OnlyA1WithHeaderYesImportsNothingButSetsUpTheGrid) {
    for (int r = 1; r <= 35; ++r) setLine(r, {"Express", "1"});
    importSheet({{"Service", "Pcs"}}, true);  // no "No Rows" message either
    EXPECT_TRUE(page_->gridIsEmpty());
    EXPECT_EQ(page_->lastLine(), 30);
}

TEST_F(SpreadsheetImportTest, EmptyColumnAShowsNoRowsAndKeepsTheGrid) {
    setLine(2, {"Express", "1"});
    const auto before = snapshot();
    const QVariant none;
    ASSERT_TRUE(writeWorkbook(path("empty.xls"), {{none, 1}, {none, 2}}));
    ScriptedFileChooser files;
    files.next(path("empty.xls"));
    ScriptedPrompt prompt;
    prompt.answer(Yes).answer(No);
    prompt.answer(Ok, [this](const PromptRequest& r) {
        EXPECT_EQ(r.text, "No Rows Found in .xls File...");
        EXPECT_EQ(r.buttons, Ok);
        EXPECT_EQ(r.icon, PromptIcon::None);
        EXPECT_FALSE(progress_->isVisible());
    });
    importer_->btnImportClick();
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(window_->isEnabled());
    EXPECT_TRUE(progress_.isNull());
}

TEST_F(SpreadsheetImportTest, DoubleClickAbortsAtTheNextCheck) {
    Sheet sheet;
    for (int r = 1; r <= 300; ++r) sheet.push_back({"Express", r});
    ASSERT_TRUE(writeWorkbook(path("big.xls"), sheet));
    ScriptedFileChooser files;
    files.next(path("big.xls"));
    ScriptedPrompt prompt;
    state_.FImportAbort = true;  // left over from an earlier import: cleared at the start
    prompt.answer(No, [this](const PromptRequest&) {
        // The user double-clicks the progress window; the click arrives when events are next processed.
        const QPointF at(20, 20);
        QApplication::postEvent(progress_.data(),
                                new QMouseEvent(QEvent::MouseButtonDblClick, at, progress_->mapToGlobal(at),
                                                Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    });
    prompt.answer(Yes, [this](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Abort Import?");
        EXPECT_EQ(progress_->findChild<QLabel*>("Label2")->text(), "7");
    });
    importer_->btnImportClick();
    // Rows 1 to 7 were in before the check at row 7; row 8 saw the request.
    EXPECT_EQ(filledLines(), 7);
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 7), "7");
    EXPECT_TRUE(window_->isEnabled());
    EXPECT_TRUE(progress_.isNull());
}

TEST_F(SpreadsheetImportTest, ReadsTheFirstSheetUpToRow65535) {
    // The workbook's second sheet holds "not me" in A1; only the first one is read. Row 65536 is past
    // the last row the import reads.
    Sheet sheet(65536);
    sheet[0] = {"Express", 1};
    sheet[39] = {"Ground", 40};
    sheet[65534] = {"TB Ground", 65535};
    sheet[65535] = {"TB Express", 65536};
    importSheet(sheet, false);
    EXPECT_EQ(filledLines(), 3);
    EXPECT_EQ(grid_->cell(P::ColService, 2), "Ground");
    EXPECT_EQ(grid_->cell(P::ColTotPcs, 3), "65535");
    EXPECT_EQ(page_->lastLine(), 30);
    for (int r = 1; r <= page_->lastLine(); ++r) EXPECT_NE(grid_->cell(P::ColService, r), "not me");
}

}  // namespace
}  // namespace tarvik
