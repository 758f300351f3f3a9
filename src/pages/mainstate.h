// Main-window state that several parts of the program share. The main window owns one MainState and
// hands it to every page by reference.
#pragma once

#include <QString>
#include <QStringList>

#include "tableaccess/tableaccess.h"

namespace tarvik {

struct MainState {
    // The program's home (home/home.h): the program file's own folder in the portable layout, a per-user
    // folder for an installed program. It holds data, Send, Recv and the transfer program's files.
    QString FProgramFolder;  // no trailing separator
    QString FDataFolder;     // FProgramFolder + "/data"
    // The folder of the program files (tarvik, relayo2); FProgramFolder when empty.
    QString FExecutableFolder;
    ta::DataContext DataContext = nullptr;

    bool FLoading = false;      // a bid is being loaded or the window cleared: click handlers stay quiet
    bool FNewBidGuard = false;  // a new bid is being started: the account executive question is not asked
    int FBidRecNo = 0;          // record number in Bids.dbf last chosen in the record picker
    bool FImportAbort = false;  // abort request of the spreadsheet import

    // Distribution source codes: the picker item text -> the code stored for it.
    QStringList FDistSourceTexts;
    QStringList FDistSourceValues;

    QString FLastFromPostal;  // origin postal code repeated into a new shipment line
    QString FLastTown;        // town of the postal code last found by CheckPostalCode

    // The one way every table is named: data folder, separator, the name as the caller gives it.
    QString tablePath(const QString& name) const { return FDataFolder + QLatin1Char('/') + name; }
};

}  // namespace tarvik
