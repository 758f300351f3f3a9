// The generic table editor ("File Browser") and record picker.
//
// Edit mode lists every record of one DBF table in a string grid (column 0: the record number, hidden;
// column 1: the deletion mark "*"; then one column per field), lets the user change cells, mark records
// for deletion or recall them, and writes the grid back to the table on closing after asking. Picker
// mode shows the same grid read-only with whole-row selection and reports the record number chosen:
// Enter or a double click chooses the highlighted row, and typing moves to the first row whose first
// field starts with the text typed. The deletion mark and the first field stay in view while the other
// columns scroll sideways.
//
//   TDBeditForm form(mainWindow, programFolder, dataFolder);
//   form.SetPickerMode(true);          // picker use only
//   form.SetTableName("Bids");
//   form.SetStartRecord(recNo);        // optional
//   form.exec();
//   int chosen = form.SelectedRecord();
//
// Writing back goes record by record through the table facade: changed and new records are written in
// place, rows marked "*" are deleted and the table packed (the engine packs into a new file and swaps it
// in), so an interruption loses no record the user did not mark, and the table's indexes stay current.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <vector>

#include "tableaccess/tableaccess.h"

class QMenuBar;
class QMenu;
class QAction;
class QPushButton;

namespace tarvik {

class StringGrid;

// The column heading for a field name: the first character and every character after an underscore
// keep their case, underscores become blanks, every other character goes to lower case; "racf id" (in
// any case) becomes "EMail ID".
QString HeadingFromFieldName(const QString& fieldName);

// The editor's text order: letters a to z folded to upper case, then compared by character code, a
// prefix sorting before the longer text. Negative, zero or positive.
int CompareGridText(const QString& a, const QString& b);

class TDBeditForm : public QDialog {
    Q_OBJECT
  public:
    // programFolder holds KORVALEX.INI; dataFolder is where tables named by SetTableName live and
    // where the open dialog starts. ctx: the table-access context (the current one when null).
    TDBeditForm(QWidget* owner, const QString& programFolder, const QString& dataFolder,
                ta::DataContext ctx = nullptr);
    ~TDBeditForm() override;

    void SetPickerMode(bool on);
    void SetTableName(const QString& name);
    void SetStartRecord(int recNo);
    void SetDataFolder(const QString& folder);
    int SelectedRecord() const { return FSelectedRecord; }

    // Loads the table at path (".dbf" optional) into the grid.
    void LoadTable(const QString& path);
    // Asks "Write changes to .DBF?" when the grid holds changes and writes them on Yes.
    void WriteChanges();
    void ToggleDeleteMark(int row);
    // Sorts the grid rows first..last by the column's texts (iterative quicksort, CompareGridText).
    void SortGridRows(int first, int last, int column);

    StringGrid* grid() const { return dbfGrid; }
    bool tableLoaded() const { return FTableLoaded; }
    bool modified() const { return FModified; }
    bool pickerMode() const { return FPickerMode; }
    int lookupColumn() const { return FLookupColumn; }
    const QStringList& lookupValues() const { return FLookupValues; }
    QString tablePath() const { return FTablePath; }

    void btnOpenClick();
    void btnExitClick();
    void btnDeleteClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  public slots:
    void done(int result) override;

  private:
    void FormCreate();
    void FormShow();
    void FormClose();
    void ReadLanguage();
    void LoadLookupList(int column, const QString& heading, const QString& folder);
    void AddEntryRow();
    void ApplyColumnWidths(const std::vector<int>& widthsInChars);
    bool dbfGridSelectCell(int col, int row);
    void dbfGridKeyPress(QChar& key);
    void dbfGridGetEditText(int col, int row);
    void dbfGridSetEditText(int col, int row, const QString& text);
    void dbfGridDblClick();
    void SelectCurrentRow();
    void TypeAhead(QChar key);
    void LayoutButtons();
    void CloseTable();
    int lastRecordRow() const;

    // Controls (object names as in the form).
    StringGrid* dbfGrid = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnExit = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnInsert = nullptr;
    QMenuBar* DBEditMenu = nullptr;
    QMenu* File1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Exit2 = nullptr;

    QString FProgramFolder;
    QString FDataFolder;
    ta::DataContext FContext = nullptr;
    int FTable = 0;
    QString FTablePath;

    bool FTableLoaded = false;
    bool FModified = false;
    bool FPickerMode = false;
    bool FShown = false;
    bool FClosing = false;
    QString FTypeAhead;      // the picker's text typed so far
    QDateTime FTypeAheadAt;  // when its last key was typed
    QString FTableName;
    int FStartRecord = 0;
    int FSelectedRecord = 0;
    int FLookupColumn = -1;
    QStringList FLookupValues;
    QString FLookupTyped;  // the letters typed so far into the current lookup cell (type-ahead)
    QElapsedTimer FLookupTypedAt;
    bool FNumericColumn = false;
    bool FLogicalColumn = false;
    int FMaxLength = 0;
    QString FEditStartText;
    std::vector<ta::FieldInfo> FFieldInfo;
    // The texts each record showed when loaded, by grid row at load time keyed by record number, so
    // that only what the user changed is written back.
    std::vector<QStringList> FLoadedTexts;  // index: record number
};

}  // namespace tarvik
