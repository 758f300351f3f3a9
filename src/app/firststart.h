// The first-start window: shown before the main window when the home has no data folder, or one that
// lacks tables the program needs. It says where the data folder lives and offers to open an existing data
// folder (copied from another computer: its files are copied into the home) or to create the
// demonstration one. Quitting leaves everything as it was.
//
// A data folder is put in place whole: it is filled in `data.new` beside the home's data folder and
// renamed to `data` only when complete, so a copy cut short never looks like a data folder. An incomplete
// data folder is never deleted: it is renamed to `data.incomplete` (or `data.incomplete-2`, ...) first.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "home/home.h"

class QLabel;
class QPushButton;

namespace tarvik {

// The home's data folder as start-up finds it.
struct DataFolderReport {
    QString folder;       // the data folder (existing or to be made)
    bool exists = false;  // the folder is there
    QStringList missing;  // required tables it lacks (all of them when it does not exist)
    bool complete() const { return exists && missing.isEmpty(); }
};
DataFolderReport inspectDataFolder(const QString& home);

// Copies source (a complete data folder, with its subfolders) into the home's data folder. False with a sentence
// in error; setAside names the folder an incomplete data folder was renamed to (empty when none was).
bool placeCopiedDataFolder(const QString& home, const QString& source, QString* setAside, QString* error);
// Builds the demonstration data folder from the CSV files in csvFolder into the home's data folder.
bool placeDemoDataFolder(const QString& home, const QString& csvFolder, QString* setAside, QString* error);

// The folder of the demonstration CSV files for a program in programFolder: share/tarvik/demo beside
// the installed program's bin folder, or demo beside a portable program. Empty when there is none.
QString findDemoCsvFolder(const QString& programFolder);

class TFirstStartForm : public QDialog {
    Q_OBJECT
  public:
    TFirstStartForm(const ProgramHome& home, const QString& demoCsvFolder, QWidget* parent = nullptr);

    QLabel* lblSituation = nullptr;        // no data folder yet, or which tables the folder lacks
    QLabel* lblHome = nullptr;             // where the data folder lives and why
    QPushButton* btnOpenFolder = nullptr;  // "&Open a Data Folder..."
    QPushButton* btnCreateDemo = nullptr;  // "&Create the Demonstration Data"
    QPushButton* btnQuit = nullptr;        // "&Quit"

    void btnOpenFolderClick();
    void btnCreateDemoClick();

  private:
    void placed(const QString& setAside);

    ProgramHome home_;
    QString demoCsvFolder_;
};

// Shows the first-start window when the home's data folder is missing or incomplete. True when the home
// has a complete data folder afterwards (the main window may start); false when the user quit.
bool PrepareHome(const ProgramHome& home, const QString& demoCsvFolder);

}  // namespace tarvik
