#pragma once
// ser2net serving one pseudo-terminal on a free port of 127.0.0.1, either as
// Telnet with the COM-PORT-OPTION (the far line set by the client) or as raw
// TCP, without a configuration file. Start() returns once it listens; the
// destructor stops it. ser2net may not run as root, so under root (CI) it
// runs as "nobody" through setpriv (which execs it: the process is ser2net
// itself, and killing it kills the server). The test makes the pty usable for
// that user.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

class Ser2netServer {
public:
    enum class Mode { Rfc2217, RawTcp };

    static constexpr const char *kProgram = "/usr/sbin/ser2net";

    // lineSettings as ser2net writes them, "9600n81".
    Ser2netServer(QString device, Mode mode, QString lineSettings)
        : device_(std::move(device)), mode_(mode), lineSettings_(std::move(lineSettings)), port_(FreePort())
    {
    }

    ~Ser2netServer() { Stop(); }

    Ser2netServer(const Ser2netServer &) = delete;
    Ser2netServer &operator=(const Ser2netServer &) = delete;

    // Starts it (again, on the same port); false with Failure() when it is
    // missing, ends at once or does not listen within 10 s.
    bool Start()
    {
        failure_.clear();
        if (!QFile::exists(QString::fromLatin1(kProgram))) {
            failure_ = QStringLiteral("ser2net is not installed (Debian's package ser2net)");
            return false;
        }
        if (port_ == 0) {
            failure_ = QStringLiteral("no free TCP port on 127.0.0.1");
            return false;
        }
        const QString accepter = mode_ == Mode::Rfc2217 ? QStringLiteral("telnet(rfc2217),tcp") : QStringLiteral("tcp");
        // -n: foreground, -d: debug output instead of syslog, -u: no UUCP lock
        // files (nobody may not write them).
        QStringList arguments{QStringLiteral("-n"),
                              QStringLiteral("-d"),
                              QStringLiteral("-u"),
                              QStringLiteral("-Y"),
                              QStringLiteral("connection: &talvor"),
                              QStringLiteral("-Y"),
                              QStringLiteral("  accepter: %1,127.0.0.1,%2").arg(accepter).arg(port_),
                              QStringLiteral("-Y"),
                              QStringLiteral("  connector: serialdev,%1,%2,local").arg(device_, lineSettings_)};
        process_.setProcessChannelMode(QProcess::MergedChannels);
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody) {
                failure_ = QStringLiteral("running as root, and there is no \"nobody\" user to run ser2net");
                return false;
            }
            process_.start(QStringLiteral("setpriv"),
                           QStringList{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                                       QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                                       QStringLiteral("--clear-groups"), QString::fromLatin1(kProgram)} +
                               arguments);
        } else {
            process_.start(QString::fromLatin1(kProgram), arguments);
        }
        if (!process_.waitForStarted(10000)) {
            failure_ = QStringLiteral("ser2net does not start: ") + process_.errorString();
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (!Listening()) {
            if (process_.state() != QProcess::Running || clock.elapsed() > 10000) {
                Stop();
                failure_ = QStringLiteral("ser2net does not listen on port %1: %2")
                               .arg(port_)
                               .arg(QString::fromLocal8Bit(process_.readAll()));
                return false;
            }
            QThread::msleep(20);
        }
        return true;
    }

    // As a crash or a power cut would end it: no goodbye to its clients.
    void Kill()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process_.processId()), SIGKILL);
        process_.waitForFinished(10000);
    }

    void Stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000))
            Kill();
    }

    const QString &Failure() const { return failure_; }
    int Port() const { return port_; }
    // The port name the tool takes for it.
    QString PortName(Mode as) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(as == Mode::Rfc2217 ? "rfc2217" : "tcp").arg(port_);
    }
    QString PortName() const { return PortName(mode_); }

private:
    // A port the kernel just handed out is free for a while after.
    static int FreePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return 0;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    // Looks in the kernel's table rather than connecting, which would take
    // ser2net's only connection for a moment.
    bool Listening() const
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray local = QStringLiteral("0100007F:%1").arg(port_, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        for (const QByteArray &line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            // sl local_address rem_address st ...; st 0A is LISTEN.
            if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
                return true;
        }
        return false;
    }

    QString device_;
    Mode mode_;
    QString lineSettings_;
    int port_;
    QProcess process_;
    QString failure_;
};
