#include "widgets/seams.h"

#include <QApplication>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

namespace tarvik {

namespace {

QMessageBox::StandardButton toQt(int b) {
    switch (b) {
        case Ok: return QMessageBox::Ok;
        case Cancel: return QMessageBox::Cancel;
        case Yes: return QMessageBox::Yes;
        case No: return QMessageBox::No;
        case Abort: return QMessageBox::Abort;
        case Retry: return QMessageBox::Retry;
        case Ignore: return QMessageBox::Ignore;
        default: return QMessageBox::NoButton;
    }
}

constexpr int kButtonOrder[] = {Yes, No, Ok, Cancel, Abort, Retry, Ignore};

class WidgetPrompt : public Prompt {
public:
    int ask(const PromptRequest& r) override {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(r.caption);
        box.setText(r.text);
        switch (r.icon) {
            case PromptIcon::Information: box.setIcon(QMessageBox::Information); break;
            case PromptIcon::Warning: box.setIcon(QMessageBox::Warning); break;
            case PromptIcon::Error: box.setIcon(QMessageBox::Critical); break;
            case PromptIcon::Question: box.setIcon(QMessageBox::Question); break;
            case PromptIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        }
        int first = NoButton;
        for (int b : kButtonOrder) {
            if (r.buttons & b) {
                box.addButton(toQt(b));
                if (first == NoButton) first = b;
            }
        }
        const int def = r.defaultButton != NoButton ? r.defaultButton : first;
        if (def != NoButton) box.setDefaultButton(toQt(def));
        box.exec();
        QAbstractButton* clicked = box.clickedButton();
        if (!clicked) return (r.buttons & Cancel) ? Cancel : ((r.buttons & No) ? No : def);
        const auto sb = box.standardButton(clicked);
        for (int b : kButtonOrder)
            if (toQt(b) == sb) return b;
        return NoButton;
    }
};

class DialogFileChooser : public FileChooser {
public:
    QString openFile(QWidget* parent, const FileRequest& r) override {
        QFileDialog dlg(parent, r.caption, r.folder, r.filter);
        dlg.setFileMode(QFileDialog::ExistingFile);
        if (!r.defaultSuffix.isEmpty()) dlg.setDefaultSuffix(r.defaultSuffix);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
        return dlg.selectedFiles().first();
    }
    QString saveFile(QWidget* parent, const FileRequest& r) override {
        QFileDialog dlg(parent, r.caption, r.folder, r.filter);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        if (!r.defaultSuffix.isEmpty()) dlg.setDefaultSuffix(r.defaultSuffix);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
        return dlg.selectedFiles().first();
    }
    QString chooseFolder(QWidget* parent, const FileRequest& r) override {
        QFileDialog dlg(parent, r.caption, r.folder);
        dlg.setFileMode(QFileDialog::Directory);
        dlg.setOption(QFileDialog::ShowDirsOnly, true);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
        return dlg.selectedFiles().first();
    }
};

class QtPrintDialog : public PrintDialog {
  public:
    bool choose(QWidget* parent, QPrinter& printer, int pageCount) override {
        QPrintDialog dlg(&printer, parent);
        dlg.setMinMax(1, pageCount > 0 ? pageCount : 1);
        dlg.setOption(QAbstractPrintDialog::PrintToFile, true);
        dlg.setOption(QAbstractPrintDialog::PrintPageRange, true);
        return dlg.exec() == QDialog::Accepted;
    }
};

class ProcessLauncher : public Launcher {
public:
    bool start(const QString& program, const QStringList& arguments, const QString& workingFolder,
               QString* errorText) override {
        qint64 pid = 0;
        if (QProcess::startDetached(program, arguments, workingFolder, &pid)) return true;
        if (errorText) *errorText = QStringLiteral("The program %1 could not be started.").arg(program);
        return false;
    }
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

WidgetPrompt gWidgetPrompt;
DialogFileChooser gDialogChooser;
ProcessLauncher gProcessLauncher;
SystemClock gSystemClock;
QtPrintDialog gQtPrintDialog;
PrintDialog* gPrintDialog = nullptr;
Prompt* gPrompt = nullptr;
FileChooser* gChooser = nullptr;
Launcher* gLauncher = nullptr;
Clock* gClock = nullptr;

}  // namespace

Prompt& Prompt::current() { return gPrompt ? *gPrompt : gWidgetPrompt; }
void Prompt::install(Prompt* prompt) { gPrompt = prompt; }
Prompt* Prompt::installed() { return gPrompt; }
FileChooser& FileChooser::current() { return gChooser ? *gChooser : gDialogChooser; }
void FileChooser::install(FileChooser* chooser) { gChooser = chooser; }
Launcher& Launcher::current() { return gLauncher ? *gLauncher : gProcessLauncher; }
void Launcher::install(Launcher* launcher) { gLauncher = launcher; }
PrintDialog& PrintDialog::current() {
    return gPrintDialog ? *gPrintDialog : gQtPrintDialog;
}
void PrintDialog::install(PrintDialog* dialog) {
    gPrintDialog = dialog;
}
Clock& Clock::current() { return gClock ? *gClock : gSystemClock; }
void Clock::install(Clock* clock) { gClock = clock; }

QString applicationTitle() { return QStringLiteral("Incentive Model"); }

int messageBox(const QString& text, const QString& caption, PromptIcon icon, int buttons, int defaultButton) {
    return Prompt::current().ask(PromptRequest{text, caption, icon, buttons, defaultButton});
}

int messageDlg(const QString& text, DialogKind kind, int buttons) {
    PromptIcon icon = PromptIcon::Information;
    switch (kind) {
        case DialogKind::Warning: icon = PromptIcon::Warning; break;
        case DialogKind::Error: icon = PromptIcon::Error; break;
        case DialogKind::Information: icon = PromptIcon::Information; break;
        case DialogKind::Confirmation: icon = PromptIcon::Question; break;
    }
    return Prompt::current().ask(PromptRequest{text, applicationTitle(), icon, buttons, NoButton});
}

QString shortDateFormat() {
    QString f = QLocale().dateFormat(QLocale::ShortFormat);
    // Always a four-digit year, so that what is shown reads back as the same date.
    static const QRegularExpression years(QStringLiteral("y+"));
    f.replace(years, QStringLiteral("yyyy"));
    return f;
}

QString dateToText(const QDate& date) {
    return date.isValid() ? QLocale().toString(date, shortDateFormat()) : QString();
}

QDate textToDate(const QString& text) {
    return QLocale().toDate(text.trimmed(), shortDateFormat());
}

}  // namespace tarvik
