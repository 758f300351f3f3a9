#include "relaysender.h"

#include <curl/curl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QUrl>
#include <cstdio>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <map>
#include <mutex>

namespace relay {

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlHandle {
    CURL* h = nullptr;
    CurlHandle() {
        initCurlOnce();
        h = curl_easy_init();
    }
    ~CurlHandle() {
        if (h) curl_easy_cleanup(h);
    }
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;
};

// The URL split into what libcurl is given: the base (scheme, host, port, path) and whether TLS must be
// demanded on a plain ftp:// connection (ftpes://).
struct Target {
    QString base;  // no trailing '/'
    bool explicitTls = false;
    bool sftp = false;
    QString user;
    QString password;
};

QString encodePath(const QString& path) {
    QStringList parts;
    for (const QString& seg : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        parts << QString::fromLatin1(QUrl::toPercentEncoding(seg, "~"));
    return parts.join(QLatin1Char('/'));
}

Target targetOf(const Settings& s) {
    Target t;
    const QUrl url(s.url.trimmed());
    QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("ftpes")) {
        scheme = QStringLiteral("ftp");
        t.explicitTls = true;
    }
    t.sftp = scheme == QLatin1String("sftp");
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');  // IPv6
    t.base = scheme + QStringLiteral("://") + host;
    if (url.port() > 0) t.base += QLatin1Char(':') + QString::number(url.port());
    const QString path = encodePath(url.path(QUrl::FullyDecoded));
    if (!path.isEmpty()) t.base += QLatin1Char('/') + path;
    const QString folder = encodePath(s.remoteFolder);
    if (!folder.isEmpty()) t.base += QLatin1Char('/') + folder;
    t.user = !s.user.trimmed().isEmpty() ? s.user.trimmed() : url.userName();
    t.password = !s.password.isEmpty() ? s.password : url.password();
    return t;
}

size_t readFromFile(char* buffer, size_t size, size_t items, void* userdata) {
    return std::fread(buffer, size, items, static_cast<FILE*>(userdata));
}

size_t discard(char*, size_t size, size_t items, void*) {
    return size * items;
}

void commonOptions(CURL* h, const Target& t, char* errorBuffer) {
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 20L);
    // A stalled transfer must not hold the send folder's lock for ever.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
    if (!t.user.isEmpty()) {
        const QByteArray user = t.user.toUtf8();
        const QByteArray pass = t.password.toUtf8();
        curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());  // libcurl copies option strings
        curl_easy_setopt(h, CURLOPT_PASSWORD, pass.constData());
    }
    if (t.explicitTls) curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (t.sftp) {
        // The server's host key must be known: an unknown key is refused rather than trusted blindly.
        const QByteArray known = QFile::encodeName(QDir::home().filePath(QStringLiteral(".ssh/known_hosts")));
        curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, known.constData());
    }
}

QString curlError(CURLcode code, const char* buffer) {
    QString text = QString::fromLocal8Bit(buffer).trimmed();
    if (text.isEmpty()) text = QString::fromLatin1(curl_easy_strerror(code));
    return text;
}

bool upload(CURL* h, const Target& t, const QString& localPath, const QString& remoteName, QString* error) {
    FILE* f = std::fopen(QFile::encodeName(localPath).constData(), "rb");
    if (!f) {
        if (error) *error = QStringLiteral("the file cannot be opened");
        return false;
    }
    const qint64 size = QFileInfo(localPath).size();
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    curl_easy_reset(h);
    commonOptions(h, t, errorBuffer);
    const QByteArray url = (t.base + QLatin1Char('/') + encodePath(remoteName)).toUtf8();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readFromFile);
    curl_easy_setopt(h, CURLOPT_READDATA, f);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(size));
    curl_easy_setopt(h, CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_RETRY));
    const CURLcode rc = curl_easy_perform(h);
    const bool readFault = std::ferror(f) != 0;
    std::fclose(f);
    if (rc != CURLE_OK) {
        if (error) *error = curlError(rc, errorBuffer);
        return false;
    }
    curl_off_t uploaded = 0;
    curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (readFault || uploaded != curl_off_t(size)) {
        if (error) *error = QStringLiteral("only %1 of %2 bytes were sent").arg(qint64(uploaded)).arg(size);
        return false;
    }
    return true;
}

bool isTableFile(const QFileInfo& fi) {
    const QString suffix = fi.suffix().toLower();
    return fi.isFile() && (suffix == QLatin1String("dbf") || suffix == QLatin1String("fpt"));
}

// Replaces any earlier file of the same name in "sent".
bool moveToSent(const QString& sendFolder, const QString& name, QString* error) {
    QDir send(sendFolder);
    if (!send.mkpath(QStringLiteral("sent"))) {
        if (error) *error = QStringLiteral("the folder \"sent\" cannot be created");
        return false;
    }
    const QString target = send.filePath(QStringLiteral("sent/") + name);
    if (QFile::exists(target) && !QFile::remove(target)) {
        if (error) *error = QStringLiteral("an earlier copy in \"sent\" cannot be replaced");
        return false;
    }
    if (!QFile::rename(send.filePath(name), target)) {
        if (error) *error = QStringLiteral("it cannot be moved to \"sent\"");
        return false;
    }
    return true;
}

// What identifies the very file at path: a file put in its place (a new submission of the same bid
// renames its tables into the send folder) gives another stamp.
QString fileStamp(const QString& path) {
#ifndef _WIN32
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return QString();
    return QStringLiteral("%1:%2:%3:%4")
        .arg(qulonglong(st.st_dev))
        .arg(qulonglong(st.st_ino))
        .arg(qlonglong(st.st_size))
        .arg(qlonglong(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec);
#else
    const QFileInfo fi(path);
    if (!fi.exists()) return QString();
    return QStringLiteral("%1:%2").arg(fi.size()).arg(fi.lastModified().toMSecsSinceEpoch());
#endif
}

class LogWriter {
  public:
    LogWriter(const QString& path, const NowFn& now, RunSummary& summary)
        : path_(path), now_(now), summary_(summary) {}
    void line(const QString& text) {
        const QString full =
            now_().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral("  ") + text;
        summary_.lines << full;
        QFile f(path_);
        if (f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            f.write(full.toUtf8());
            f.write("\n");
        } else {
            // The log cannot be written: the operator still sees the line on the console.
            std::fprintf(stderr, "%s\n", full.toLocal8Bit().constData());
        }
    }

  private:
    QString path_;
    NowFn now_;
    RunSummary& summary_;
};

}  // namespace

QString lockFileName() {
    return QStringLiteral("relayo2.lock");
}

QString remoteUrl(const Settings& settings, const QString& remoteName) {
    return targetOf(settings).base + QLatin1Char('/') + encodePath(remoteName);
}

bool uploadFile(const Settings& settings, const QString& localPath, const QString& remoteName,
                QString* error) {
    CurlHandle curl;
    if (!curl.h) {
        if (error) *error = QStringLiteral("the transfer library could not be started");
        return false;
    }
    return upload(curl.h, targetOf(settings), localPath, remoteName, error);
}

namespace {

// Logs in and lists the folder the settings name. CURLE_OK when that worked.
CURLcode listFolder(const Settings& settings, QString* error) {
    CurlHandle curl;
    if (!curl.h) {
        if (error) *error = QStringLiteral("the transfer library could not be started");
        return CURLE_FAILED_INIT;
    }
    const Target t = targetOf(settings);
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    commonOptions(curl.h, t, errorBuffer);
    const QByteArray url = (t.base + QLatin1Char('/')).toUtf8();
    curl_easy_setopt(curl.h, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.h, CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(curl.h, CURLOPT_WRITEFUNCTION, discard);
    const CURLcode rc = curl_easy_perform(curl.h);
    if (rc != CURLE_OK && error) *error = curlError(rc, errorBuffer);
    return rc;
}

}  // namespace

bool testConnection(const Settings& settings, QString* message) {
    const QString problem = settingsProblem(settings);
    if (!problem.isEmpty()) {
        if (message) *message = problem;
        return false;
    }
    const QString folder = settings.remoteFolder.trimmed();
    QString error;
    const CURLcode rc = listFolder(settings, &error);
    if (rc == CURLE_OK) {
        if (message)
            *message = folder.isEmpty()
                           ? QStringLiteral("Connection OK.")
                           : QStringLiteral("Connection OK; the remote folder \"%1\" is there.").arg(folder);
        return true;
    }
    const bool reachedServer = rc != CURLE_COULDNT_CONNECT && rc != CURLE_COULDNT_RESOLVE_HOST &&
                               rc != CURLE_LOGIN_DENIED && rc != CURLE_OPERATION_TIMEDOUT;
    if (!folder.isEmpty() && reachedServer) {
        // The server may simply not have the folder yet: the first upload creates it.
        Settings base = settings;
        base.remoteFolder.clear();
        if (listFolder(base, nullptr) == CURLE_OK) {
            if (message)
                *message = QStringLiteral(
                               "Connection OK; the remote folder \"%1\" is not there yet: the first upload "
                               "creates it.")
                               .arg(folder);
            return true;
        }
    }
    if (message) *message = QStringLiteral("Connection failed: %1.").arg(error);
    return false;
}

RunSummary sendAll(const RunPaths& paths, const NowFn& now) {
    RunSummary summary;
    LogWriter log(paths.logFile, now, summary);

    Settings settings;
    QString problem;
    if (!loadSettings(paths.settingsFile, settings, &problem)) {
        summary.notConfigured = true;
        log.line(
            QStringLiteral(
                "Nothing was sent: the transfer settings are missing. %1 Run \"relayo2 /S\" to set them up.")
                .arg(problem));
        return summary;
    }
    problem = settingsProblem(settings);
    if (!problem.isEmpty()) {
        summary.notConfigured = true;
        log.line(QStringLiteral("Nothing was sent: the transfer settings are incomplete. %1 Run \"relayo2 "
                                "/S\" to set them up.")
                     .arg(problem));
        return summary;
    }

    QDir send(paths.sendFolder);
    if (!send.exists()) {
        log.line(QStringLiteral("Nothing to send: there is no send folder %1.")
                     .arg(QDir::toNativeSeparators(paths.sendFolder)));
        return summary;
    }

    // One run at a time per send folder. The lock is released when this run ends, or found stale when the
    // run that held it died; a long upload never makes it look stale.
    QLockFile lock(send.filePath(lockFileName()));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        summary.busy = true;
        if (lock.error() == QLockFile::LockFailedError)
            log.line(QStringLiteral(
                "Nothing was sent: another Relayo2 run is sending the files of this send folder."));
        else
            log.line(QStringLiteral("Nothing was sent: the lock file cannot be made in the send folder %1.")
                         .arg(QDir::toNativeSeparators(paths.sendFolder)));
        return summary;
    }

    // The files waiting in Send, grouped by base name (a table and its memo file), memo file first,
    // table last.
    auto waiting = [&send] {
        std::map<QString, QStringList> groups;
        const QFileInfoList entries = send.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& fi : entries) {
            if (!isTableFile(fi)) continue;
            groups[fi.completeBaseName().toLower()] << fi.fileName();
        }
        for (auto& [base, files] : groups) {
            std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
                const bool aMemo = a.endsWith(QLatin1String(".fpt"), Qt::CaseInsensitive);
                const bool bMemo = b.endsWith(QLatin1String(".fpt"), Qt::CaseInsensitive);
                if (aMemo != bMemo) return aMemo;
                return a < b;
            });
        }
        return groups;
    };
    std::map<QString, QStringList> groups = waiting();
    if (groups.empty()) {
        log.line(QStringLiteral("Relayo2 finished: no files to send."));
        return summary;
    }

    CurlHandle curl;
    const Target target = targetOf(settings);
    const QString shownTarget =
        QUrl(target.base).toDisplayString(QUrl::RemovePassword | QUrl::RemoveUserInfo);
    // Each file as it was when this run last tried to send it: a table is tried again in this run only
    // when one of its files is new or has changed since (a submission made while this run was sending),
    // so a table the server refused is not tried over and over, and the run always ends.
    std::map<QString, QString> tried;
    constexpr int kMaxPasses = 1000;
    for (int pass = 0; pass < kMaxPasses && !groups.empty(); ++pass) {
        bool anyNew = false;
        for (const auto& [base, files] : groups) {
            bool fresh = false;
            for (const QString& name : files) {
                const auto it = tried.find(name);
                if (it == tried.end() || it->second != fileStamp(send.filePath(name))) fresh = true;
            }
            if (!fresh) continue;
            anyNew = true;
            QStringList arrived;
            QStringList stamps;  // of the files as they were sent
            QString failedName;
            for (const QString& name : files) {
                const QString stamp = fileStamp(send.filePath(name));
                tried[name] = stamp;
                if (!failedName.isEmpty()) {
                    log.line(QStringLiteral("%1 was not sent: it stays in Send with %2, which could not be sent.")
                                 .arg(name, failedName));
                    continue;
                }
                QString error;
                const qint64 size = QFileInfo(send.filePath(name)).size();
                const bool ok =
                    curl.h ? upload(curl.h, target, send.filePath(name), name, &error)
                           : (error = QStringLiteral("the transfer library could not be started"), false);
                if (paths.afterUpload) paths.afterUpload(name);
                if (ok) {
                    arrived << name;
                    stamps << stamp;
                    log.line(QStringLiteral("%1 sent to %2 (%3 bytes).").arg(name, shownTarget).arg(size));
                } else {
                    failedName = name;
                    log.line(QStringLiteral("%1 was not sent: %2. It stays in Send for the next run.")
                                 .arg(name, error));
                }
            }
            if (!failedName.isEmpty()) {
                // The files of this table that did arrive stay too, so that the table is sent whole next time.
                for (const QString& name : arrived)
                    log.line(QStringLiteral(
                                 "%1 stays in Send as well, so that its table is sent whole by the next run.")
                                 .arg(name));
                continue;
            }
            // A file replaced while it was being sent (a new submission of the same bid) is not the file
            // that arrived: the whole table stays in Send and is sent again, new, before this run ends.
            QString replaced;
            for (int i = 0; i < arrived.size() && replaced.isEmpty(); ++i)
                if (fileStamp(send.filePath(arrived[i])) != stamps[i]) replaced = arrived[i];
            if (!replaced.isEmpty()) {
                for (const QString& name : arrived)
                    log.line(QStringLiteral("%1 stays in Send: %2 was replaced while it was being sent, so the "
                                            "new table is sent again.")
                                 .arg(name, replaced));
                continue;
            }
            for (const QString& name : arrived) {
                QString error;
                if (!moveToSent(paths.sendFolder, name, &error))
                    log.line(QStringLiteral("%1 arrived but %2; it will be sent again by the next run.")
                                 .arg(name, error));
                ++summary.sent;
            }
        }
        if (!anyNew) break;
        // What arrived in Send while this pass was sending is sent before the run ends.
        groups = waiting();
    }
    // The count of what is left is what Send holds now, not what this run tried.
    summary.failed = 0;
    for (const auto& [base, files] : waiting()) summary.failed += int(files.size());
    log.line(
        QStringLiteral("Relayo2 finished: %1 of %2 file(s) sent and moved to Send/sent, %3 left in Send.")
            .arg(summary.sent)
            .arg(summary.sent + summary.failed)
            .arg(summary.failed));
    return summary;
}

}  // namespace relay
