// Import of shipment lines into ShipmentGrid from a spreadsheet (.xls, read with FreeXL) or from a text
// file (.txt, one shipment per line, fields separated by tabs or commas), and the wiring of the
// Shipment Data page's tool buttons (import, copy, clear, find/replace).
//
// The progress window belongs to the application layer; the imports receive a factory for it. The
// window it makes is a QDialog with the labels "Label1" (main text) and "Label2" (progress number);
// a double click on it may set MainState::FImportAbort, which the spreadsheet import polls.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "pages/mainstate.h"

namespace tarvik {

class ShipmentPage;

using ImportProgressFactory = std::function<std::unique_ptr<QDialog>(QWidget* owner)>;

// The highest sheet row the spreadsheet import reads, and so the most lines one import brings.
constexpr int kLastImportRow = 65535;
// A text file brings at most as many lines as a sheet, and is refused when it is larger than this.
constexpr qint64 kMaxImportTextBytes = 64 * 1024 * 1024;

// The text of a file line cut into fields as the text import cuts it: separator a tab when the line
// holds one, else a comma; at most `maxFields` fields; each field unquoted and trimmed.
QStringList CutImportLine(const QString& line, int maxFields);

// The bytes of a text file as text: UTF-8 (with or without its byte order mark) when they are valid
// UTF-8, otherwise Windows-1252.
QString DecodeImportText(const QByteArray& bytes);

// The lines of a text as a text file reader gives them: CR LF, LF or CR end a line; a final line end
// starts no further line.
QStringList SplitImportLines(const QString& text);

class ShipmentImport {
  public:
    // mainWindow: the window disabled while a spreadsheet is read and whose "ebxLocalBidID" must hold a
    // bid ID; the page's own window when null.
    ShipmentImport(MainState& state, ShipmentPage& page, QWidget* mainWindow = nullptr);

    // Makes the progress window; without one the imports show none.
    ImportProgressFactory makeProgressWindow;

    // The "&Import Data" command: bid ID check, file choice, overwrite or append, the import, the code
    // validation, the pickers and the empty last line.
    void btnImportClick();

    // Both return false (after an error box naming the file and the reason) when the file cannot be
    // read; the grid is then exactly as it was. A text file larger than kMaxImportTextBytes counts as
    // unreadable; of a longer one, the first kLastImportRow lines are imported and a warning says so.
    bool ImportSpreadsheet(const QString& fileName, bool overwrite);
    bool ImportTextFile(const QString& fileName, bool overwrite);

    // The folder the file dialog opens in; remembered for the program's run (empty: not chosen yet).
    static QString startFolder();
    static void setStartFolder(const QString& folder);

    // The filter of the file dialog.
    static QString fileFilter();

  private:
    QWidget* mainWindow() const;
    bool mobChecked() const;

    MainState& state_;
    ShipmentPage& page_;
    QWidget* mainWindow_;
    int firstImportedLine_ = 1;  // the line the last import began on
};

// Connects btnImport, btnCopyLine, btnClearShipGrid and btnFindRepl of the page to their handlers.
// applyLook: the control look given to the find/replace window before it is shown (may be empty).
void wireShipmentTools(ShipmentPage& page, MainState& state, ImportProgressFactory makeProgressWindow,
                       std::function<void(QWidget*)> applyLook = {});

}  // namespace tarvik
