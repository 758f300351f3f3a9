// The program's seams: everything modal or environmental goes through one of these, so that every
// dialog and flow can be driven by tests. The real implementations are installed by default; tests
// install scripted ones (see testsupport/).
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

class QPrinter;
class QWidget;

namespace tarvik {

// ---- Prompt: every message box and message dialog ----
enum class PromptIcon { None, Information, Warning, Error, Question };

enum PromptButton : int {
    NoButton = 0,
    Ok = 0x1,
    Cancel = 0x2,
    Yes = 0x4,
    No = 0x8,
    Abort = 0x10,
    Retry = 0x20,
    Ignore = 0x40,
};

struct PromptRequest {
    QString text;
    QString caption;
    PromptIcon icon = PromptIcon::None;
    int buttons = Ok;                  // OR of PromptButton
    int defaultButton = NoButton;      // NoButton: the first of the buttons
};

class Prompt {
public:
    virtual ~Prompt() = default;
    // Shows the request modally and returns the button pressed (Cancel / No when the box is closed).
    virtual int ask(const PromptRequest& request) = 0;

    // The prompt in force; install(nullptr) puts the real one back. The caller keeps ownership.
    static Prompt& current();
    static void install(Prompt* prompt);
    static Prompt* installed();  // the installed one, nullptr for the real one
};

// The application's title, the caption of message dialogs: "Incentive Model".
QString applicationTitle();

// A message box with an explicit caption, icon and buttons.
int messageBox(const QString& text, const QString& caption, PromptIcon icon, int buttons,
               int defaultButton = NoButton);

// A message dialog: its kind gives the icon; the caption is the application's title.
enum class DialogKind { Warning, Error, Information, Confirmation };
int messageDlg(const QString& text, DialogKind kind, int buttons);

// ---- File chooser: the open and save dialogs ----
struct FileRequest {
    QString caption;
    QString folder;   // start folder
    QString filter;   // Qt filter text, e.g. "Import File (*.XLS *.TXT);;All Files (*)"
    QString defaultSuffix;
};
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // Returns the chosen path, or an empty string when the user cancelled.
    virtual QString openFile(QWidget* parent, const FileRequest& request) = 0;
    // The save dialog: the path to write (the dialog has asked about replacing an existing file and
    // added defaultSuffix to a name without one), or an empty string when the user cancelled.
    virtual QString saveFile(QWidget* parent, const FileRequest& request) = 0;
    // The folder dialog (request.filter unused): the chosen folder, or an empty string when the user
    // cancelled.
    virtual QString chooseFolder(QWidget* parent, const FileRequest& request) = 0;
    static FileChooser& current();
    static void install(FileChooser* chooser);
};

// ---- Launcher: starting another program ----
class Launcher {
public:
    virtual ~Launcher() = default;
    // Starts program with arguments in workingFolder without waiting for it. Returns true when it
    // started; otherwise false with errorText set to a plain sentence.
    virtual bool start(const QString& program, const QStringList& arguments, const QString& workingFolder,
                       QString* errorText) = 0;
    static Launcher& current();
    static void install(Launcher* launcher);
};

// ---- Print dialog: choosing the printer and what to print ----
class PrintDialog {
  public:
    virtual ~PrintDialog() = default;
    // Shows the print dialog for printer and a document of pageCount pages; true when the user chose to
    // print, the printer then holding the choices (printer, copies, page range, print to file).
    virtual bool choose(QWidget* parent, QPrinter& printer, int pageCount) = 0;
    static PrintDialog& current();
    static void install(PrintDialog* dialog);
};

// ---- Clock: the current local date and time ----
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    static Clock& current();
    static void install(Clock* clock);
};

// ---- Date text: the locale's short date format, always with a four-digit year ----
QString shortDateFormat();
QString dateToText(const QDate& date);   // empty for an invalid date
QDate textToDate(const QString& text);   // invalid when the text is not a date in that format

}  // namespace tarvik
