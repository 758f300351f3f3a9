// Table errors reported by the table-access layer are shown to the user as error message boxes that name
// the file and the problem. Nothing is swallowed and nothing ends the program.
#pragma once

#include <QString>

#include "tableaccess/tableaccess.h"

namespace tarvik {

// The text of the error box for one report.
QString tableErrorText(const QString& file, const QString& problem);

// Shows one report as an error message box (application title as caption, error icon, OK).
void showTableError(const QString& file, const QString& problem);

// Installs showTableError as the table-access error handler for its lifetime and puts the previous
// handler back when it ends.
class TableErrorReporter {
  public:
    TableErrorReporter();
    ~TableErrorReporter();
    TableErrorReporter(const TableErrorReporter&) = delete;
    TableErrorReporter& operator=(const TableErrorReporter&) = delete;

  private:
    ta::ErrorHandler previous_;
};

}  // namespace tarvik
