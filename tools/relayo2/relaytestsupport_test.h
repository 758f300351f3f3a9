// Helpers for the relayo2 tests: a real FTP server on 127.0.0.1 (Debian's pyftpdlib) and small file tools.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace relaytest {

class FtpServer {
  public:
    ~FtpServer() { stop(); }
    // Starts the server over root; true once it listens (port() then says where).
    bool start(const QString& root, const QString& user = QStringLiteral("bidder"),
               const QString& password = QStringLiteral("s3cret pass")) {
        process_.setProgram(QStringLiteral("/usr/bin/python3"));
        process_.setArguments(
            {QStringLiteral(TARVIK_SOURCE_DIR "/tools/relayo2/testftpserver.py"), root, user, password});
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(30000)) return false;
        QByteArray line;
        while (!line.contains('\n')) {
            if (!process_.waitForReadyRead(30000)) return false;
            line += process_.readAllStandardOutput();
        }
        port_ = line.trimmed().toInt();
        return port_ > 0;
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(30000);
        }
    }
    int port() const { return port_; }
    QString url() const { return QStringLiteral("ftp://127.0.0.1:%1").arg(port_); }

  private:
    QProcess process_;
    int port_ = 0;
};

inline QByteArray randomBytes(int n, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = char(gen.bounded(256));
    return b;
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QStringList logLines(const QString& path) {
    QStringList lines = QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

}  // namespace relaytest
