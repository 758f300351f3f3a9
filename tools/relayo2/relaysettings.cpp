#include "relaysettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#else
#include <QSaveFile>
#endif

namespace relay {

namespace {

const char* const kSection = "[Server]";

// Values are written one per line; a line break inside a value would split it, so it is dropped.
QString oneLine(const QString& value) {
    QString v = value;
    v.remove(QLatin1Char('\r'));
    v.remove(QLatin1Char('\n'));
    return v;
}

QByteArray settingsText(const Settings& s) {
    QString text;
    text += QLatin1String(kSection) + QLatin1Char('\n');
    text += QStringLiteral("Url=") + oneLine(s.url) + QLatin1Char('\n');
    text += QStringLiteral("User=") + oneLine(s.user) + QLatin1Char('\n');
    text += QStringLiteral("Password=") + oneLine(s.password) + QLatin1Char('\n');
    text += QStringLiteral("RemoteFolder=") + oneLine(s.remoteFolder) + QLatin1Char('\n');
    return text.toUtf8();
}

}  // namespace

QString settingsFileName() {
    return QStringLiteral("relayo2.ini");
}

QString settingsPathBeside(const QString& programFolder) {
    return QDir(programFolder).filePath(settingsFileName());
}

bool loadSettings(const QString& path, Settings& out, QString* problem) {
    out = Settings{};
    QFile f(path);
    if (!f.exists()) {
        if (problem)
            *problem =
                QStringLiteral("The settings file %1 does not exist.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        if (problem)
            *problem = QStringLiteral("The settings file %1 cannot be read (%2).")
                           .arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('['))) continue;
        const QString key = line.left(eq).trimmed().toLower();
        const QString value = line.mid(eq + 1);  // kept as typed: a password may end in a blank
        if (key == QLatin1String("url"))
            out.url = value.trimmed();
        else if (key == QLatin1String("user"))
            out.user = value.trimmed();
        else if (key == QLatin1String("password"))
            out.password = value;
        else if (key == QLatin1String("remotefolder"))
            out.remoteFolder = value.trimmed();
    }
    return true;
}

bool saveSettings(const QString& path, const Settings& settings, QString* problem) {
    const QByteArray bytes = settingsText(settings);
#ifndef _WIN32
    // Written to a private temporary file beside the target, then renamed over it: the file is never
    // half-written and never readable by others, not even for a moment.
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".tmp";
    ::unlink(temp.constData());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC, 0600);
    auto fail = [&](const char* what) {
        const int err = errno;
        if (problem)
            *problem = QStringLiteral("The settings could not be saved to %1 (%2: %3).")
                           .arg(path, QLatin1String(what), QString::fromLocal8Bit(std::strerror(err)));
        return false;
    };
    if (fd < 0) return fail("create");
    ::fchmod(fd, 0600);  // whatever the umask
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            ::unlink(temp.constData());
            return fail("write");
        }
        done += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(temp.constData());
        return fail("flush");
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        return fail("rename");
    }
    return true;
#else
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        if (problem)
            *problem =
                QStringLiteral("The settings could not be saved to %1 (%2).").arg(path, f.errorString());
        return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return true;
#endif
}

QString settingsProblem(const Settings& s) {
    if (s.url.trimmed().isEmpty()) return QStringLiteral("No server URL is set.");
    const QUrl url(s.url.trimmed());
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("ftp") && scheme != QLatin1String("ftps") &&
        scheme != QLatin1String("ftpes") && scheme != QLatin1String("sftp"))
        return QStringLiteral(
                   "The server URL \"%1\" does not start with ftp://, ftps://, ftpes:// or sftp://.")
            .arg(url.toDisplayString(QUrl::RemovePassword));
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("The server URL \"%1\" names no server.")
            .arg(url.toDisplayString(QUrl::RemovePassword));
    if (scheme == QLatin1String("sftp") && s.user.trimmed().isEmpty() && url.userName().isEmpty())
        return QStringLiteral("No user is set; SFTP needs one.");
    return QString();
}

}  // namespace relay
