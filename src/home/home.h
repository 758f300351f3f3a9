// The program's home: the folder that holds the data folder `data`, the send and receive folders `Send`
// and `Recv`, the transfer program's settings `relayo2.ini` and its log `Relayo2.log`.
//
// Tarvik and relayo2 find it the same way, here, in this order:
//   1. `--home DIR` on the command line;
//   2. the environment variable TARVIK_HOME (Tarvik sets it for the programs it starts, so relayo2
//      started by Tarvik always works in Tarvik's home);
//   3. the folder of the program file, when a `data` folder is beside it (the portable layout: a
//      folder unpacked anywhere, or a build folder);
//   4. the per-user folder: $XDG_DATA_HOME/Tarvik (normally ~/.local/share/Tarvik); on Windows
//      %LOCALAPPDATA%\Tarvik.
// A relative folder (from 1 or 2) is taken from the current folder at start.
#pragma once

#include <QString>
#include <QStringList>

namespace tarvik {

// The environment variable that names the home.
inline constexpr const char* kHomeVariable = "TARVIK_HOME";

// What the home is found from. Filled from the running process by processHomeInputs(); tests fill it
// themselves.
struct HomeInputs {
    QString homeOption;     // the value of --home; empty when not given
    QString homeVariable;   // TARVIK_HOME
    QString programFolder;  // the folder of the program file
    QString currentFolder;  // for relative folders
    QString xdgDataHome;    // XDG_DATA_HOME
    QString userHome;       // the user's home folder (HOME)
    QString localAppData;   // LOCALAPPDATA (Windows)
    bool windows = false;   // Windows' per-user rule instead of XDG's
};

enum class HomeSource { Option, Variable, BesideProgram, PerUser };

struct ProgramHome {
    QString folder;  // absolute, clean, no trailing separator
    HomeSource source = HomeSource::PerUser;
};

ProgramHome resolveHome(const HomeInputs& inputs);

// The inputs of this process: its environment, the folder of its program file, the current folder.
HomeInputs processHomeInputs(const QString& programFolder, const QString& homeOption);

// A few words saying why the home is where it is, for --help texts and the first-start window.
QString homeSourceText(HomeSource source);

// The data folder of a home: its entry named "data" in any letter case (a folder copied from Windows
// may say "Data"), or home/data when there is none.
QString dataFolderOf(const QString& home);

// The command line of Tarvik and relayo2: --help (-h), --version and --home DIR (or --home=DIR);
// everything else is left in `rest` in its order. error is set for --home without a folder.
struct CommandLine {
    bool help = false;
    bool version = false;
    QString home;
    QStringList rest;
    QString error;
};
CommandLine parseCommandLine(const QStringList& arguments);  // without the program name

}  // namespace tarvik
