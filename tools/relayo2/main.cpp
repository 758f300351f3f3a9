// relayo2: the transfer program started by Tarvik.
//
//   relayo2       sends the submission tables of the folder "Send" beside the program to the server
//                 named in relayo2.ini, and appends its report to "Relayo2.log" in the current folder
//                 (the folder Tarvik reads its status from).
//   relayo2 /S    shows the set-up window and saves relayo2.ini beside the program.
//
// The exit code is 0 when every file was sent (or there was nothing to send), 1 when some file stays in
// Send, 2 when the settings are missing, 3 when another run is sending.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>

#include "relaysender.h"
#include "relaysettings.h"
#include "setupwindow.h"

namespace {
bool wantsSetup(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a.compare(QLatin1String("/S"), Qt::CaseInsensitive) == 0 || a == QLatin1String("-S")) return true;
    }
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    if (wantsSetup(argc, argv)) {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Relayo2"));
        relay::SetupWindow window(relay::settingsPathBeside(QCoreApplication::applicationDirPath()));
        window.show();
        return window.exec() == QDialog::Accepted ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    const QString programFolder = QCoreApplication::applicationDirPath();
    relay::RunPaths paths;
    paths.sendFolder = QDir(programFolder).filePath(QStringLiteral("Send"));
    paths.logFile = QDir::current().filePath(QStringLiteral("Relayo2.log"));
    paths.settingsFile = relay::settingsPathBeside(programFolder);
    const relay::RunSummary r = relay::sendAll(paths);
    if (r.busy) return 3;
    if (r.notConfigured) return 2;
    return r.failed > 0 ? 1 : 0;
}
