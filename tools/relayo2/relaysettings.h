// Settings of the transfer program: where the submission tables go and as whom.
//
// They live in "relayo2.ini" beside the program file, written by the set-up window ("relayo2 /S") and
// readable by its owner only, since the file holds the server password.
#pragma once

#include <QString>

namespace relay {

struct Settings {
    QString url;   // ftp://host[:port][/path], ftps:// (implicit TLS), ftpes:// (explicit TLS), sftp://
    QString user;  // empty: anonymous (FTP only)
    QString password;
    QString remoteFolder;  // folder below the URL's path; created on the server when missing
};

// The settings file's name and its place beside the program.
QString settingsFileName();  // "relayo2.ini"
QString settingsPathBeside(const QString& programFolder);

// Reads the settings. False with a plain sentence in problem when the file is missing or unreadable.
bool loadSettings(const QString& path, Settings& out, QString* problem);
// Writes the settings, replacing the file in one step; the file is created readable and writable by its
// owner only (0600) and never exists with wider rights. False with a plain sentence on failure.
bool saveSettings(const QString& path, const Settings& settings, QString* problem);

// Empty when the settings can be used to send; otherwise a plain sentence saying what is missing.
QString settingsProblem(const Settings& settings);

}  // namespace relay
