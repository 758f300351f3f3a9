// relayo2: the transfer program started by Tarvik.
//
//   relayo2       sends the submission tables of the folder "Send" in Tarvik's home to the server named
//                 in the home's relayo2.ini, and appends its report to "Relayo2.log" in the current folder
//                 (Tarvik starts it in its home, the folder it reads the status from).
//   relayo2 /S    shows the set-up window and saves relayo2.ini in the home.
//
// The home is found as Tarvik finds it (home/home.h); Tarvik hands its own over in TARVIK_HOME.
// The exit code is 0 when every file was sent (or there was nothing to send), 1 when some file stays in
// Send, 2 when the settings are missing (or the command line is wrong), 3 when another run is sending.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "home/home.h"
#include "relaysender.h"
#include "relaysettings.h"
#include "setupwindow.h"
#include "tarvikversion.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    return args;
}

bool isSetupSwitch(const QString& a) {
    return a.compare(QLatin1String("/S"), Qt::CaseInsensitive) == 0 || a == QLatin1String("-S");
}

tarvik::ProgramHome homeOf(const tarvik::CommandLine& line) {
    return tarvik::resolveHome(tarvik::processHomeInputs(QCoreApplication::applicationDirPath(), line.home));
}

void printHelp(const tarvik::ProgramHome& home) {
    std::printf(
        "Usage: relayo2 [/S] [--home DIR]\n"
        "The transfer program of Tarvik %s: sends the submitted bids' tables to the carrier's server.\n"
        "\n"
        "  (no switch)  send every table waiting in Send/ of the home (FTP, FTPS or SFTP) and move\n"
        "               each one sent to Send/sent/; the report is appended to Relayo2.log in the\n"
        "               current folder\n"
        "  /S           the set-up window: server URL, user, password, remote folder; saved in\n"
        "               relayo2.ini of the home, readable by its owner only\n"
        "  --home DIR   Tarvik's home (otherwise found as Tarvik finds it: %s, a data\n"
        "               folder beside the program, or $XDG_DATA_HOME/Tarvik)\n"
        "  --version    print the version and exit\n"
        "  -h, --help   print this help and exit\n"
        "\n"
        "Exit codes: 0 all sent (or nothing to send), 1 some file stays in Send, 2 no usable\n"
        "settings or a wrong command line, 3 another run is sending.\n"
        "\n"
        "The home now: %s (%s)\n",
        TARVIK_VERSION, tarvik::kHomeVariable, qPrintable(QDir::toNativeSeparators(home.folder)),
        qPrintable(tarvik::homeSourceText(home.source)));
}

}  // namespace

int main(int argc, char** argv) {
    const tarvik::CommandLine early = tarvik::parseCommandLine(argumentsOf(argc, argv));
    if (early.version) {
        std::printf("relayo2 %s\n", TARVIK_VERSION);
        return 0;
    }
    if (early.help) {
        QCoreApplication core(argc, argv);
        printHelp(homeOf(early));
        return 0;
    }
    bool setup = false;
    for (const QString& a : early.rest) setup = setup || isSetupSwitch(a);
    // The first argument that is neither the set-up switch nor an option of Qt's (the set-up window
    // takes those).
    auto unknownArgument = [](const tarvik::CommandLine& line) {
        if (!line.error.isEmpty()) return line.error;
        for (const QString& a : line.rest)
            if (!isSetupSwitch(a)) return QStringLiteral("unknown argument %1").arg(a);
        return QString();
    };
    auto refuse = [](const QString& problem) {
        std::fprintf(stderr, "relayo2: %s\nTry 'relayo2 --help'.\n", qPrintable(problem));
        return 2;
    };

    if (setup) {
        QApplication app(argc, argv);  // takes Qt's own options out of the arguments
        QApplication::setApplicationName(QStringLiteral("Relayo2"));
        const tarvik::CommandLine line = tarvik::parseCommandLine(QCoreApplication::arguments().mid(1));
        const QString problem = unknownArgument(line);
        if (!problem.isEmpty()) return refuse(problem);
        const QString home = homeOf(line).folder;
        QDir().mkpath(home);
        relay::SetupWindow window(relay::settingsPathBeside(home));
        window.show();
        return window.exec() == QDialog::Accepted ? 0 : 1;
    }
    const QString problem = unknownArgument(early);
    if (!problem.isEmpty()) return refuse(problem);
    QCoreApplication app(argc, argv);
    const QString home = homeOf(early).folder;
    relay::RunPaths paths;
    paths.sendFolder = QDir(home).filePath(QStringLiteral("Send"));
    paths.logFile = QDir::current().filePath(QStringLiteral("Relayo2.log"));
    paths.settingsFile = relay::settingsPathBeside(home);
    const relay::RunSummary r = relay::sendAll(paths);
    if (r.busy) return 3;
    if (r.notConfigured) return 2;
    return r.failed > 0 ? 1 : 0;
}
