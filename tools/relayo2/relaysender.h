// The sending run of the transfer program, kept apart from its window so that it can be run and tested
// on its own.
//
// A run uploads every table file (.dbf, .fpt) of the send folder to the configured server and moves
// each file to the folder "sent" inside the send folder once the server has taken it. A table and its
// memo file (same base name) travel together: the memo file goes first, the table last, and both are
// moved only when both arrived, so the next run sends a table whole again. A run writes one line per file
// and one summary line, each starting with the date and time, to the log.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

#include "relaysettings.h"

namespace relay {

struct RunPaths {
    QString sendFolder;    // the folder whose .dbf / .fpt files are sent
    QString logFile;       // appended to ("Relayo2.log")
    QString settingsFile;  // "relayo2.ini"
    // Runs after each file's upload attempt, before the next one (tests use it to act in the middle of a
    // run, as a new submission writing the send folder would).
    std::function<void(const QString& name)> afterUpload;
};

struct RunSummary {
    int sent = 0;                // files the server took (moved to Send/sent)
    int failed = 0;              // table and memo files in the send folder when the run ended
    bool busy = false;           // another run holds the send folder's lock: nothing was done
    bool notConfigured = false;  // settings missing or unusable: nothing was sent
    QStringList lines;           // the log lines written, in order
};

using NowFn = std::function<QDateTime()>;

// The lock file's name inside the send folder.
QString lockFileName();  // "relayo2.lock"

// One whole sending run. Never deletes a file that did not arrive.
RunSummary sendAll(
    const RunPaths& paths, const NowFn& now = [] { return QDateTime::currentDateTime(); });

// Uploads one file to the remote folder under remoteName. False with a plain sentence in error.
bool uploadFile(const Settings& settings, const QString& localPath, const QString& remoteName,
                QString* error);

// Logs in and lists the remote folder. True when that worked; message says what happened either way.
bool testConnection(const Settings& settings, QString* message);

// The URL a file is sent to (no credentials in it); exposed for tests and log lines.
QString remoteUrl(const Settings& settings, const QString& remoteName);

}  // namespace relay
