#include "tableedit/dbeditform.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <vector>

#include "testsupport/scriptedprompt.h"
#include "testsupport/testdata.h"
#include "widgets/stringgrid.h"

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace tarvik;
using tarvik::test::FieldSpec;
using tarvik::test::ScriptedPrompt;

namespace {

class EditorTest : public ::testing::Test {
  protected:
    QTemporaryDir tmp;
    QString data;
    ta::DataContext ctx = nullptr;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        data = test::makeDataFolder(tmp.path());
        ctx = ta::OpenData();
    }
    void TearDown() override { ta::CloseData(ctx); }

    std::unique_ptr<TDBeditForm> open(const QString& table, bool picker = false, int start = 0) {
        auto f = std::make_unique<TDBeditForm>(nullptr, tmp.path(), data);
        if (picker) f->SetPickerMode(true);
        if (!table.isEmpty()) f->SetTableName(table);
        if (start) f->SetStartRecord(start);
        f->show();
        f->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
        return f;
    }
    static QStringList column(StringGrid* g, int c) {
        QStringList out;
        for (int r = 1; r < g->rowCount(); ++r) out << g->cell(c, r);
        return out;
    }
    static void type(StringGrid* g, const QString& text) {
        for (QChar ch : text) {
            QWidget* target = g->editor() ? static_cast<QWidget*>(g->editor()) : g;
            QTest::keyClick(target, ch.toLatin1());
        }
    }
    static void key(StringGrid* g, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QWidget* target = g->editor() ? static_cast<QWidget*>(g->editor()) : g;
        QTest::keyClick(target, k, m);
    }
    // The grid row showing record recNo.
    static int rowOf(StringGrid* g, int recNo) {
        for (int r = 1; r < g->rowCount(); ++r)
            if (g->cell(0, r) == QString::number(recNo)) return r;
        return -1;
    }
    QString tablePath(const QString& name) const { return data + "/" + name; }
};

TEST(TableEditorText, HeadingsFromFieldNames) {
    EXPECT_EQ(HeadingFromFieldName("AE_NAME"), "Ae Name");
    EXPECT_EQ(HeadingFromFieldName("ssa_email"), "ssa email");
    EXPECT_EQ(HeadingFromFieldName("District"), "District");
    EXPECT_EQ(HeadingFromFieldName("racf_id"), "EMail ID");
    EXPECT_EQ(HeadingFromFieldName("RACF_ID"), "EMail ID");
    EXPECT_EQ(HeadingFromFieldName("SSA_Name"), "Ssa Name");
    EXPECT_EQ(HeadingFromFieldName("AE_NAME_X"), "Ae Name X");
    EXPECT_EQ(HeadingFromFieldName(" local_bid "), "local bid");
}

TEST(TableEditorText, ComparisonFoldsLettersOnlyAndPrefixesSortFirst) {
    EXPECT_LT(CompareGridText("A", "b"), 0);
    EXPECT_GT(CompareGridText("b", "A"), 0);
    EXPECT_EQ(CompareGridText("abc", "ABC"), 0);
    EXPECT_LT(CompareGridText("ab", "abc"), 0);
    EXPECT_LT(CompareGridText("", "a"), 0);
    // Folding is a to z only: "_" (0x5F) sorts after "Z" but before "a" would without folding.
    EXPECT_GT(CompareGridText("_", "z"), 0);
    EXPECT_GT(CompareGridText("[", "b"), 0) << "'[' is 0x5B, above 'B' (b folded) though below 'b'";
}

TEST_F(EditorTest, EditModeWindowCaptionsHeadingsLookupAndEntryRow) {
    auto f = open("AELookup");
    StringGrid* g = f->grid();
    EXPECT_EQ(f->windowTitle(), "File Browser");
    auto* btnOpen = f->findChild<QPushButton*>("btnOpen");
    auto* btnExit = f->findChild<QPushButton*>("btnExit");
    auto* btnDelete = f->findChild<QPushButton*>("btnDelete");
    auto* btnInsert = f->findChild<QPushButton*>("btnInsert");
    ASSERT_TRUE(btnOpen && btnExit && btnDelete && btnInsert);
    EXPECT_TRUE(btnOpen->isHidden());
    EXPECT_EQ(btnExit->text(), "E&xit");
    EXPECT_EQ(btnDelete->text(), "F7 - &Delete");
    EXPECT_TRUE(btnDelete->isVisible());
    EXPECT_TRUE(btnInsert->isHidden());
    EXPECT_FALSE(btnInsert->isEnabled());
    EXPECT_EQ(btnExit->x(), 10) << "moved left over the hidden open button";
    auto* file1 = f->findChild<QMenu*>("File1");
    auto* exit1 = f->findChild<QAction*>("Exit1");
    auto* exit2 = f->findChild<QAction*>("Exit2");
    ASSERT_TRUE(file1 && exit1 && exit2);
    EXPECT_EQ(file1->title(), "&File");
    EXPECT_FALSE(exit1->isVisible());
    EXPECT_EQ(exit2->text(), "E&xit");

    EXPECT_EQ(g->objectName(), "dbfGrid");
    ASSERT_EQ(g->colCount(), 8);
    EXPECT_TRUE(g->isColHiddenInGrid(0));
    const QStringList headings{g->cell(1, 0), g->cell(2, 0), g->cell(3, 0), g->cell(4, 0),
                               g->cell(5, 0), g->cell(6, 0), g->cell(7, 0)};
    EXPECT_EQ(headings,
              (QStringList{"D*", "Ae Name", "Ssa Name", "Ssa Email", "Asm Name", "District", "EMail ID"}))
        << "field names are stored in capitals";
    EXPECT_EQ(f->lookupColumn(), 6);
    EXPECT_EQ(f->lookupValues(), (QStringList{"Toronto", "Ottawa", "Vancouver", "Montreal"}));
    // Three records sorted by the first field, then one empty entry row.
    ASSERT_EQ(g->rowCount(), 5);
    EXPECT_EQ(column(g, 2), (QStringList{"Anna Bell", "Carl O'Neil", "Dana Ruiz", ""}));
    EXPECT_EQ(g->colWidth(2), QFontMetrics(f->font()).horizontalAdvance(QString(13, QChar(0x58))))
        << "\"Carl O'Neil\" is the longest text: 11 characters plus two";
    EXPECT_EQ(column(g, 0), (QStringList{"1", "2", "3", ""}));
    EXPECT_EQ(column(g, 6), (QStringList{"Toronto", "Ottawa", "Vancouver", ""}));
    EXPECT_EQ(g->row(), 1);
    EXPECT_EQ(g->col(), 2);
    EXPECT_FALSE(f->modified());
    // Nothing changed: closing asks nothing.
    QTest::mouseClick(btnExit, Qt::LeftButton);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(f->SelectedRecord(), 0);
}

TEST_F(EditorTest, FrenchCaptionsFromTheIniFileAndEnglishPickerCaptions) {
    QFile ini(tmp.path() + "/korvalex.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Other]\nLANGUAGE=US\n[System settings]\nLanguage = fr\n");
    ini.close();
    {
        TDBeditForm f(nullptr, tmp.path(), data);
        EXPECT_EQ(f.findChild<QPushButton*>("btnOpen")->text(), "&Ouvrir");
        EXPECT_EQ(f.findChild<QMenu*>("File1")->title(), "&Fichier");
        EXPECT_EQ(f.findChild<QAction*>("Exit1")->text(), "&Ouvrir");
        EXPECT_EQ(f.findChild<QAction*>("Exit2")->text(), "&Quitter");
        EXPECT_EQ(f.findChild<QPushButton*>("btnExit")->text(), "E&xit");
        EXPECT_EQ(f.findChild<QPushButton*>("btnDelete")->text(), "F7 - &Delete");
        f.SetPickerMode(true);
        EXPECT_EQ(f.findChild<QPushButton*>("btnOpen")->text(), "&Select");
        EXPECT_EQ(f.findChild<QAction*>("Exit1")->text(), "&Select");
        EXPECT_EQ(f.findChild<QAction*>("Exit2")->text(), "&Cancel");
        EXPECT_EQ(f.findChild<QPushButton*>("btnExit")->text(), "&Cancel");
        EXPECT_TRUE(f.findChild<QAction*>("Exit1")->isVisible());
    }
    ini.open(QIODevice::WriteOnly);
    ini.write("[System settings]\nLANGUAGE=DE\n");
    ini.close();
    TDBeditForm g(nullptr, tmp.path(), data);
    EXPECT_EQ(g.findChild<QMenu*>("File1")->title(), "&File");
    EXPECT_EQ(g.findChild<QAction*>("Exit2")->text(), "E&xit");
}

TEST_F(EditorTest, SortOfBACKeepsWholeRowsTogether) {
    ASSERT_TRUE(test::writeTable(tablePath("Letters"), {{"name", 'C', 10}, {"num", 'N', 5}},
                                 {{"b", "1"}, {"A", "2"}, {"c", "3"}}));
    auto f = open("Letters");
    StringGrid* g = f->grid();
    EXPECT_EQ(column(g, 2), (QStringList{"A", "b", "c", ""}));
    EXPECT_EQ(column(g, 3), (QStringList{"2", "1", "3", ""}));
    EXPECT_EQ(column(g, 0), (QStringList{"2", "1", "3", ""}));
    // Widths: the longest text (or heading) plus two, in capital X of the window's font; the window
    // narrows to the columns' total (at least 300) plus 60.
    const QFontMetrics fm(f->font());
    auto px = [&](int chars) { return fm.horizontalAdvance(QString(chars + 2, 'X')); };
    EXPECT_EQ(g->colWidth(1), px(2));
    EXPECT_EQ(g->colWidth(2), px(4));  // "Name"
    EXPECT_EQ(g->colWidth(3), px(3));  // "Num"
    const int total = 2 + (px(2) + 1) + (px(4) + 1) + (px(3) + 1);
    EXPECT_EQ(f->width(), std::max(300, total) + 60);
    // Direct use on a larger shuffled range.
    g->setRowCount(1);
    g->setRowCount(40);
    for (int r = 1; r < 40; ++r)
        g->setCell(2, r, QString(QChar('a' + (r * 7) % 26)) + QString::number(r % 3));
    QStringList expected = column(g, 2);
    std::sort(expected.begin(), expected.end(),
              [](const QString& a, const QString& b) { return CompareGridText(a, b) < 0; });
    f->SortGridRows(1, 39, 2);
    EXPECT_EQ(column(g, 2), expected);
    f->close();
}

TEST_F(EditorTest, PickerModeReturnsRecordNumberStartRecordAndKeysDiscarded) {
    auto f = open("AELookup", true, 3);
    StringGrid* g = f->grid();
    auto* btnOpen = f->findChild<QPushButton*>("btnOpen");
    EXPECT_TRUE(btnOpen->isVisible());
    EXPECT_EQ(btnOpen->text(), "&Select");
    EXPECT_EQ(f->findChild<QPushButton*>("btnExit")->text(), "&Cancel");
    EXPECT_TRUE(f->findChild<QPushButton*>("btnDelete")->isHidden());
    EXPECT_EQ(g->rowCount(), 4) << "no entry row in picker mode";
    EXPECT_EQ(g->cell(0, g->row()), "3") << "the start record's row is current";
    EXPECT_TRUE(g->rowSelect());
    type(g, "zz");
    EXPECT_FALSE(g->isEditing());
    EXPECT_EQ(g->cell(2, 3), "Dana Ruiz");
    key(g, Qt::Key_F7);  // no delete in picker mode
    key(g, Qt::Key_Up);
    EXPECT_EQ(g->cell(0, g->row()), "2");
    QTest::keyClick(g, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(f->SelectedRecord(), 2);
    EXPECT_EQ(f->result(), QDialog::Accepted);

    auto c = open("AELookup", true, 99);  // not in the table
    EXPECT_EQ(c->grid()->row(), 1);
    QTest::mouseClick(c->findChild<QPushButton*>("btnExit"), Qt::LeftButton);
    EXPECT_EQ(c->SelectedRecord(), 0);

    auto d = open("AELookup", true);
    const QPoint at = d->grid()->cellRect(3, 2).center();
    ASSERT_FALSE(d->grid()->cellRect(3, 2).isEmpty());
    QTest::mouseClick(d->grid()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(d->grid()->row(), 2);
    QTest::mouseDClick(d->grid()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->SelectedRecord(), 2);
}

TEST_F(EditorTest, EmptyTableInBothModes) {
    ASSERT_TRUE(test::writeTable(tablePath("Empty"), {{"name", 'C', 10}}, {}));
    auto p = open("Empty", true);
    EXPECT_EQ(p->grid()->rowCount(), 2);
    EXPECT_EQ(p->grid()->cell(0, 1), "");
    QTest::mouseClick(p->findChild<QPushButton*>("btnOpen"), Qt::LeftButton);
    EXPECT_EQ(p->SelectedRecord(), 0) << "the empty row of an empty table is no record";

    auto e = open("Empty");
    StringGrid* g = e->grid();
    EXPECT_EQ(g->rowCount(), 2) << "no entry row until the empty row is edited";
    type(g, "new");
    EXPECT_EQ(g->rowCount(), 3);
    key(g, Qt::Key_Return);
    ScriptedPrompt prompt;
    prompt.answer(Yes, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Write changes to .DBF?");
        EXPECT_EQ(r.caption, "File Write");
        EXPECT_EQ(r.icon, PromptIcon::Question);
        EXPECT_EQ(r.buttons, Yes | No);
    });
    QTest::mouseClick(e->findChild<QPushButton*>("btnExit"), Qt::LeftButton);
    EXPECT_EQ(test::readColumn(tablePath("Empty"), "name"), QStringList{"new"})
        << "the empty entry row adds no blank record";
}

TEST_F(EditorTest, DeletedRecordsShowAStarAndArePackedOnWriting) {
    ASSERT_TRUE(
        test::writeTable(tablePath("Marks"), {{"name", 'C', 10}}, {{"one"}, {"two"}, {"three"}, {"four"}}));
    {
        const int t = ta::mOpen(ctx, tablePath("Marks"));
        ta::d4go(t, 2);
        ta::d4delete(t);
        ta::d4go(t, 4);
        ta::d4delete(t);
        ta::d4close(t);
    }
    auto f = open("Marks");
    StringGrid* g = f->grid();
    EXPECT_EQ(g->cell(1, rowOf(g, 2)), "*");
    EXPECT_EQ(g->cell(1, rowOf(g, 4)), "*");
    EXPECT_EQ(g->cell(1, rowOf(g, 1)), "");
    ScriptedPrompt prompt;
    // Recall "four" with F7, mark "one".
    g->setCurrentCell(2, rowOf(g, 4));
    prompt.answer(Yes, [](const PromptRequest& r) {
        EXPECT_EQ(r.text, "Recall this Record?");
        EXPECT_EQ(r.caption, "File Maintenance");
        EXPECT_EQ(r.icon, PromptIcon::Warning);
        EXPECT_EQ(r.buttons, Yes | No);
    });
    key(g, Qt::Key_F7);
    EXPECT_EQ(g->cell(1, rowOf(g, 4)), "");
    g->setCurrentCell(2, rowOf(g, 1));
    prompt.answer(No, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete this Record?"); });
    key(g, Qt::Key_F7);
    EXPECT_EQ(g->cell(1, rowOf(g, 1)), "") << "No changes nothing";
    prompt.answer(Yes);
    QTest::mouseClick(f->findChild<QPushButton*>("btnDelete"), Qt::LeftButton);
    EXPECT_EQ(g->cell(1, rowOf(g, 1)), "*");
    EXPECT_TRUE(f->modified());
    prompt.answer(Yes);
    f->close();
    EXPECT_EQ(test::recordCount(tablePath("Marks")), 2) << "packed";
    EXPECT_EQ(test::readColumn(tablePath("Marks"), "name"), (QStringList{"three", "four"}));
}

TEST_F(EditorTest, AnsweringNoLeavesTheTableAsItWas) {
    auto f = open("AELookup");
    StringGrid* g = f->grid();
    type(g, "Zed");
    key(g, Qt::Key_Return);
    EXPECT_EQ(g->cell(2, 1), "Zed");
    ScriptedPrompt prompt;
    prompt.answer(No);
    f->close();
    EXPECT_EQ(test::readColumn(tablePath("AELookUp"), "ae_name"),
              (QStringList{"Anna Bell", "Carl O'Neil", "Dana Ruiz"}));
}

// The District column takes only values of the District table, chosen by type-ahead: the letters typed
// in a row pick the first value beginning with them, a pause starts afresh, letters that begin no value
// change nothing, and no editor takes free text. Writing deletes only the rows the user marked.
TEST_F(EditorTest, LookupColumnTypeAheadChoosesOnlyExistingValuesAndDeletesOnlyMarkedRows) {
    const int interval = QApplication::keyboardInputInterval();
    auto f = open("AELookup");
    StringGrid* g = f->grid();
    const int lookup = f->lookupColumn();
    const int carl = rowOf(g, 2);
    struct Case {
        const char* typed;
        int pause;  // keyboard input interval in ms: huge keeps one search, 0 starts afresh at each key
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"Toronto", 1000000, "Ottawa", "Toronto"},
        {"Montreal", 1000000, "Ottawa", "Montreal"},
        {"ot", 1000000, "Toronto", "Ottawa"},
        {"VAN", 1000000, "Ottawa", "Vancouver"},
        {"vx", 1000000, "Ottawa", "Vancouver"},  // x begins nothing after "v": the choice stays
        {"q", 1000000, "Ottawa", "Ottawa"},
        {"to", 0, "Montreal", "Ottawa"},  // without a search in progress each key stands alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        QApplication::setKeyboardInputInterval(c.pause);
        g->setCell(lookup, carl, QLatin1String(c.before));
        ASSERT_TRUE(g->setCurrentCell(lookup, carl));
        g->setCurrentCell(2, carl);  // a new search in every case
        g->setCurrentCell(lookup, carl);
        type(g, QLatin1String(c.typed));
        EXPECT_FALSE(g->isEditing()) << "the keys themselves are discarded";
        EXPECT_EQ(g->cell(lookup, carl), c.after);
    }
    QApplication::setKeyboardInputInterval(1000000);
    key(g, Qt::Key_F2);
    EXPECT_FALSE(g->isEditing()) << "no free text in the lookup column";

    // Dana's district emptied by the program (as an older table may hold it), a new row with a name but
    // no district, one with both; Anna marked for deletion.
    const int dana = rowOf(g, 3);
    g->setCell(lookup, dana, QString());
    const int entry = g->rowCount() - 1;
    g->setCurrentCell(2, entry);
    type(g, "No District");
    key(g, Qt::Key_Return);
    g->setCurrentCell(2, entry + 1);
    type(g, "Eve Stone");
    key(g, Qt::Key_Return);
    g->setCurrentCell(lookup, entry + 1);
    type(g, "mo");
    EXPECT_EQ(g->cell(lookup, entry + 1), "Montreal");
    ScriptedPrompt prompt;
    prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete this Record?"); });
    g->setCurrentCell(2, rowOf(g, 1));
    QTest::mouseClick(f->findChild<QPushButton*>("btnDelete"), Qt::LeftButton);
    prompt.answer(Yes);
    f->close();
    QApplication::setKeyboardInputInterval(interval);
    EXPECT_EQ(test::readColumn(tablePath("AELookUp"), "ae_name"),
              (QStringList{"Carl O'Neil", "Dana Ruiz", "No District", "Eve Stone"}));
    EXPECT_EQ(test::readColumn(tablePath("AELookUp"), "District"),
              (QStringList{"Ottawa", "", "", "Montreal"}));
}

TEST_F(EditorTest, LogicalNumericAndLengthFilters) {
    ASSERT_TRUE(test::writeTable(tablePath("Flags"), {{"name", 'C', 5}, {"flag", 'L', 1}, {"qty", 'N', 6, 2}},
                                 {{"a", "T", "1"},
                                  {"b", "T", "2"},
                                  {"c", "T", "3"},
                                  {"d", "T", "4"},
                                  {"e", "F", "5"},
                                  {"f", "F", "6"}}));
    auto f = open("Flags");
    StringGrid* g = f->grid();
    auto setFlag = [&](const QString& name, const QString& keys) {
        const int r = column(g, 2).indexOf(name) + 1;
        ASSERT_GT(r, 0);
        ASSERT_TRUE(g->setCurrentCell(3, r));
        key(g, Qt::Key_F2);
        key(g, Qt::Key_Backspace);
        type(g, keys);
        key(g, Qt::Key_Return);
    };
    setFlag("a", "n");  // N
    setFlag("b", "f");  // F
    setFlag("c", "");   // nothing
    setFlag("e", "y");  // Y
    setFlag("f", "t");  // T
    const auto cells = column(g, 3);
    EXPECT_EQ(cells.mid(0, 6), (QStringList{"N", "F", "", "T", "Y", "T"}));
    // A "?" is refused by the filter; a cell holding one anyway is written as "F".
    g->setCurrentCell(3, 4);
    type(g, "?");
    EXPECT_EQ(g->cell(3, 4), "T");
    g->setCell(3, 4, "?");
    // Numbers: letters refused, digits, point and minus pass.
    g->setCurrentCell(4, 1);
    key(g, Qt::Key_F2);
    key(g, Qt::Key_Backspace);
    type(g, "x-1.5a");
    key(g, Qt::Key_Return);
    EXPECT_EQ(g->cell(4, 1), "-1.5");
    // Length 5: a full cell refuses more, Backspace still works.
    g->setCurrentCell(2, 1);
    key(g, Qt::Key_F2);
    key(g, Qt::Key_End);
    type(g, "bcde");
    EXPECT_EQ(g->cell(2, 1), "abcde");
    type(g, "f");
    EXPECT_EQ(g->cell(2, 1), "abcde");
    key(g, Qt::Key_Backspace);
    EXPECT_EQ(g->cell(2, 1), "abcd");
    type(g, "z");
    EXPECT_EQ(g->cell(2, 1), "abcdz");
    key(g, Qt::Key_Return);
    ScriptedPrompt prompt;
    prompt.answer(Yes);
    f->close();
    EXPECT_EQ(test::readColumn(tablePath("Flags"), "flag"), (QStringList{"F", "F", "F", "F", "T", "T"}));
    EXPECT_EQ(test::readColumn(tablePath("Flags"), "name"), (QStringList{"abcdz", "b", "c", "d", "e", "f"}));
    const QStringList qty = test::readColumn(tablePath("Flags"), "qty");
    ASSERT_EQ(qty.size(), 6);
    EXPECT_DOUBLE_EQ(qty[0].toDouble(), -1.5);
    EXPECT_DOUBLE_EQ(qty[5].toDouble(), 6.0);
}

TEST_F(EditorTest, StoredLogicalValuesAreWrittenAsTrueOrFalseWithAnyChange) {
    ASSERT_TRUE(test::writeTable(tablePath("Marks"), {{"name", 'C', 5}, {"flag", 'L', 1}},
                                 {{"a", "T"}, {"b", "T"}, {"c", "T"}, {"d", "F"}}));
    // Stored as other programs leave them: a blank and a "?" (patched into the records' bytes).
    {
        QFile file(tablePath("Marks.dbf"));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        const QByteArray head = file.read(12);
        const int headerLength = quint8(head[8]) | quint8(head[9]) << 8;
        const int recordLength = quint8(head[10]) | quint8(head[11]) << 8;
        ASSERT_TRUE(file.seek(headerLength + 6));  // record 1: mark, name(5), flag
        file.write(" ");
        ASSERT_TRUE(file.seek(headerLength + recordLength + 6));
        file.write("?");
    }
    auto f = open("Marks");
    StringGrid* g = f->grid();
    EXPECT_EQ(column(g, 3).mid(0, 4), (QStringList{"", "?", "T", "F"}));
    // One change elsewhere makes the grid written; the untouched logical cells go through the rule too.
    ASSERT_TRUE(g->setCurrentCell(2, rowOf(g, 4)));
    key(g, Qt::Key_F2);
    key(g, Qt::Key_End);
    type(g, "x");
    key(g, Qt::Key_Return);
    ScriptedPrompt prompt;
    prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Write changes to .DBF?"); });
    f->close();
    EXPECT_EQ(test::readColumn(tablePath("Marks"), "flag"), (QStringList{"F", "F", "T", "F"}));
    EXPECT_EQ(test::readColumn(tablePath("Marks"), "name"), (QStringList{"a", "b", "c", "dx"}));
}

TEST_F(EditorTest, OpenAnyTableWithMemoDateAndNumbersAndUnchangedValuesKept) {
    ASSERT_TRUE(test::writeTable(
        tablePath("Notes"), {{"title", 'C', 12}, {"when", 'D', 8}, {"amount", 'N', 8, 2}, {"body", 'M', 10}},
        {{"  indented", "20240131", "12.5", "a long memo text well past ten characters"},
         {"plain", "", "", ""}}));
    test::ScriptedFileChooser chooser;
    chooser.next(tablePath("Notes.dbf"));
    auto f = open(QString());  // no table name: the open dialog comes first
    ASSERT_EQ(chooser.requests().size(), 1u);
    EXPECT_EQ(chooser.requests()[0].folder, data);
    EXPECT_TRUE(chooser.requests()[0].filter.contains("*.dbf"));
    StringGrid* g = f->grid();
    ASSERT_TRUE(f->tableLoaded());
    const int first = rowOf(g, 1);
    EXPECT_EQ(g->cell(2, first), "indented");
    EXPECT_EQ(g->cell(3, first), "20240131");
    EXPECT_DOUBLE_EQ(g->cell(4, first).toDouble(), 12.5);
    EXPECT_EQ(g->cell(5, first), "a long memo text well past ten characters");
    // Edit the second record's memo beyond the pointer's length, and its date.
    const int second = rowOf(g, 2);
    g->setCurrentCell(5, second);
    type(g, "memo typed in place, longer than ten");
    key(g, Qt::Key_Return);
    g->setCurrentCell(3, second);
    type(g, "20250615");
    key(g, Qt::Key_Return);
    ScriptedPrompt prompt;
    prompt.answer(Yes);
    f->close();
    EXPECT_EQ(
        test::readColumn(tablePath("Notes"), "body"),
        (QStringList{"a long memo text well past ten characters", "memo typed in place, longer than ten"}));
    EXPECT_EQ(test::readColumn(tablePath("Notes"), "when"), (QStringList{"20240131", "20250615"}));
    // The record the user did not touch keeps its stored text exactly, leading blanks included.
    const int t = ta::mOpen(ctx, tablePath("Notes"));
    ta::d4go(t, 1);
    EXPECT_EQ(ta::f4str(ta::d4fieldJ(t, 1)), "  indented  ");
    ta::d4close(t);
}

TEST_F(EditorTest, KeysAndMenuCommandsOnlyWhileTheirButtonsShow) {
    auto f = open("AELookup");
    StringGrid* g = f->grid();
    g->setCurrentCell(2, 2);
    key(g, Qt::Key_F7, Qt::ControlModifier);  // F7 with a modifier is not the delete key
    key(g, Qt::Key_F3, Qt::ShiftModifier);    // no "&Open" button in edit mode
    EXPECT_EQ(g->cell(1, 2), "");
    EXPECT_FALSE(f->modified());
    ScriptedPrompt prompt;
    prompt.answer(Yes, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Delete this Record?"); });
    key(g, Qt::Key_F7);
    EXPECT_EQ(g->cell(1, 2), "*");
    EXPECT_EQ(f->focusWidget(), g) << "focus returns to the grid";
    // The deletion mark column and the record number column are not cells to stand on.
    key(g, Qt::Key_Left);
    EXPECT_EQ(g->col(), 2);
    prompt.answer(No, [](const PromptRequest& r) { EXPECT_EQ(r.text, "Write changes to .DBF?"); });
    f->findChild<QAction*>("Exit2")->trigger();
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(f->result(), QDialog::Accepted);
    EXPECT_EQ(test::recordCount(tablePath("AELookUp")), 3);

    auto p = open("AELookup", true);
    p->grid()->setCurrentCell(2, 3);
    p->findChild<QAction*>("Exit1")->trigger();
    EXPECT_EQ(p->SelectedRecord(), 3);
}

TEST_F(EditorTest, OpenInEditModeWritesFirstAndCancelReloadsTheGrid) {
    auto f = open("AELookup");
    StringGrid* g = f->grid();
    g->setCurrentCell(2, rowOf(g, 1));
    type(g, "Ann B");
    key(g, Qt::Key_Return);
    test::ScriptedFileChooser chooser;
    chooser.next(QString());  // cancelled
    ScriptedPrompt prompt;
    prompt.answer(Yes);
    f->btnOpenClick();
    EXPECT_FALSE(f->modified());
    EXPECT_EQ(g->cell(2, 1), "Ann B");
    EXPECT_EQ(g->cell(0, 1), "1");
    f->close();  // nothing more to write, nothing asked
    EXPECT_EQ(test::readColumn(tablePath("AELookUp"), "ae_name"),
              (QStringList{"Ann B", "Carl O'Neil", "Dana Ruiz"}));
}

}  // namespace

namespace {

// The deletion mark "D*" and the first field stay in view while the grid scrolls sideways, however the
// cursor gets to the far columns: Tab along a record, the right arrow, End, or the bar under the grid.
TEST_F(EditorTest, MarkAndFirstFieldStayInViewWhileTheColumnsScroll) {
    struct Case {
        const char* what;
        bool picker;
        std::function<void(TDBeditForm&)> toTheEnd;
    };
    auto repeat = [](Qt::Key k) {
        return [k](TDBeditForm& f) {
            for (int i = 0; i < f.grid()->colCount(); ++i) key(f.grid(), k);
        };
    };
    const Case cases[] = {
        {"Tab along the record", false, repeat(Qt::Key_Tab)},
        {"right arrow", false, repeat(Qt::Key_Right)},
        {"End in the picker", true, [](TDBeditForm& f) { key(f.grid(), Qt::Key_End); }},
        {"the column bar", true,
         [](TDBeditForm& f) {
             QScrollBar* bar = f.grid()->columnScrollBar();
             ASSERT_NE(bar, nullptr);
             ASSERT_TRUE(bar->isVisible()) << "the columns do not fit: the bar is there to scroll them";
             bar->setValue(bar->maximum());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto f = open("Bids", c.picker);
        StringGrid* g = f->grid();
        const int last = g->colCount() - 1;
        ASSERT_GT(last, 20) << "a table with many fields";
        ASSERT_TRUE(g->cellRect(last, 1).isEmpty()) << "the last column starts out of view";
        const QRect mark = g->cellRect(1, 1);
        const QRect first = g->cellRect(2, 1);
        ASSERT_FALSE(mark.isEmpty());
        ASSERT_FALSE(first.isEmpty());
        g->setFocus();
        c.toTheEnd(*f);
        QApplication::processEvents();
        EXPECT_FALSE(g->cellRect(last, 1).isEmpty()) << "the last column came into view";
        EXPECT_EQ(g->cellRect(1, 1), mark) << "D* stays where it was";
        EXPECT_EQ(g->cellRect(2, 1), first) << "the first field stays where it was";
        EXPECT_EQ(g->cell(1, 0), "D*");
        if (!c.picker) {
            EXPECT_EQ(g->col(), last);
            EXPECT_TRUE(g->isCellFullyVisible(last, 1));
            // And back: the first field again, and the columns after it.
            key(g, Qt::Key_Home);
            for (int i = 0; i < last; ++i) key(g, Qt::Key_Left);
            EXPECT_FALSE(g->cellRect(3, 1).isEmpty());
            EXPECT_EQ(g->cellRect(2, 1), first);
        }
        f->close();
    }
}

// At the style's minimum button widths no button overlaps its neighbour, in the editor (Exit, F7 -
// Delete) and in the picker (Select, Cancel), and each is as wide as its caption needs.
TEST_F(EditorTest, ButtonsDoNotOverlapAtTheStylesMinimumWidths) {
    QWidget owner;
    owner.setStyleSheet(QStringLiteral("QPushButton { padding: 4px 12px; min-width: 64px; }"));
    for (bool picker : {false, true}) {
        SCOPED_TRACE(picker ? "picker" : "editor");
        TDBeditForm f(&owner, tmp.path(), data);
        if (picker) f.SetPickerMode(true);
        f.SetTableName("AELookup");
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
        std::vector<QPushButton*> shown;
        for (const char* name : {"btnOpen", "btnExit", "btnDelete", "btnInsert"}) {
            auto* b = f.findChild<QPushButton*>(name);
            if (b->isVisible()) shown.push_back(b);
        }
        ASSERT_EQ(shown.size(), 2u);
        for (QPushButton* b : shown)
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->objectName().toStdString();
        EXPECT_FALSE(shown[0]->geometry().intersects(shown[1]->geometry()));
        EXPECT_EQ(shown[0]->x(), 10);
        EXPECT_EQ(shown[0]->y(), shown[1]->y());
        f.close();
    }
}

// In the picker Enter chooses the highlighted row, and typing jumps to the first row whose first field
// starts with the text typed (letter case aside; a text no row starts with starts over from the last key).
TEST_F(EditorTest, PickerEnterChoosesAndTypingFindsTheRow) {
    test::FixedClock clock(QDateTime(QDate(2012, 3, 14), QTime(10, 0)));
    struct Case {
        const char* typed;
        const char* row;  // first field of the row that is current afterwards
    };
    const Case cases[] = {{"c", "Carl O'Neil"},  {"dan", "Dana Ruiz"}, {"ANN", "Anna Bell"},
                          {"cx", "Carl O'Neil"}, {"cd", "Dana Ruiz"},  {"z", "Anna Bell"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        auto f = open("AELookup", true);
        StringGrid* g = f->grid();
        g->setFocus();
        type(g, QString::fromLatin1(c.typed));
        EXPECT_EQ(g->cell(2, g->row()), c.row);
        EXPECT_FALSE(g->isEditing());
        const int record = g->cell(0, g->row()).toInt();
        key(g, Qt::Key_Return);
        EXPECT_FALSE(f->isVisible());
        EXPECT_EQ(f->result(), QDialog::Accepted);
        EXPECT_EQ(f->SelectedRecord(), record);
    }
    // Keys typed more than a second apart start a new text.
    auto f = open("AELookup", true);
    type(f->grid(), "d");
    clock.time = clock.time.addSecs(2);
    type(f->grid(), "a");
    EXPECT_EQ(f->grid()->cell(2, f->grid()->row()), "Anna Bell");
}

}  // namespace
