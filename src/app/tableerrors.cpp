#include "app/tableerrors.h"

#include <QDir>

#include "widgets/seams.h"

namespace tarvik {

QString tableErrorText(const QString& file, const QString& problem) {
    if (file.isEmpty()) return problem;
    return QStringLiteral("%1\n\nFile: %2").arg(problem, QDir::toNativeSeparators(file));
}

void showTableError(const QString& file, const QString& problem) {
    messageDlg(tableErrorText(file, problem), DialogKind::Error, Ok);
}

TableErrorReporter::TableErrorReporter() : previous_(ta::setErrorHandler(&showTableError)) {}

TableErrorReporter::~TableErrorReporter() {
    ta::setErrorHandler(previous_);
}

}  // namespace tarvik
