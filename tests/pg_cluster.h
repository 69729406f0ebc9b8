#pragma once
// A throwaway PostgreSQL server for a test: a cluster made with initdb in a
// temporary folder, listening only on a unix socket in that folder (no TCP),
// stopped and removed at the end. The server refuses to run as root, so under
// root (CI) it runs as Debian's "postgres" user, which then owns the folder.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

class PgCluster {
public:
    // Where initdb and pg_ctl are (the newest version installed); empty: none.
    static QString BinFolder()
    {
        const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                         .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (auto version = versions.crbegin(); version != versions.crend(); ++version) {
            const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*version);
            if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
                return bin;
        }
        return {};
    }

    PgCluster() : bin_(BinFolder())
    {
        if (bin_.isEmpty() || !folder_.isValid()) {
            failure_ = QStringLiteral("no PostgreSQL programs or no temporary folder");
            return;
        }
        if (geteuid() == 0) {
            const passwd *postgres = getpwnam("postgres");
            if (!postgres || ::chown(qPrintable(folder_.path()), postgres->pw_uid, postgres->pw_gid) != 0) {
                failure_ = QStringLiteral("running as root, and there is no \"postgres\" user to run the server");
                return;
            }
        }
        if (!Run(QStringLiteral("initdb"), {QStringLiteral("-D"), DataFolder(), QStringLiteral("-U"),
                                            QStringLiteral("talvor"), QStringLiteral("-A"), QStringLiteral("trust"),
                                            QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-sync")}))
            return;
        QFile conf(DataFolder() + QStringLiteral("/postgresql.conf"));
        if (!conf.open(QIODevice::Append)) {
            failure_ = QStringLiteral("cannot add to postgresql.conf");
            return;
        }
        conf.write(QStringLiteral("listen_addresses = ''\nunix_socket_directories = '%1'\nport = 5432\n"
                                  "fsync = off\n")
                       .arg(folder_.path())
                       .toUtf8());
        conf.close();
        Start();
    }

    ~PgCluster()
    {
        if (running_)
            Stop();
    }

    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // Why the cluster is not up (with the programs' output); empty while it is.
    const QString &Failure() const { return failure_; }

    // pg_ctl -w returns once the server takes connections.
    bool Start()
    {
        running_ = Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), DataFolder(), QStringLiteral("-l"),
                                                  folder_.path() + QStringLiteral("/server.log"), QStringLiteral("-w"),
                                                  QStringLiteral("-t"), QStringLiteral("120"), QStringLiteral("start")});
        if (running_)
            failure_.clear();
        return running_;
    }

    bool Stop()
    {
        running_ = !Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), DataFolder(), QStringLiteral("-m"),
                                                   QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
        return !running_;
    }

    QString ConnectionString() const
    {
        return QStringLiteral("host=%1 port=5432 dbname=postgres user=talvor").arg(folder_.path());
    }

private:
    QString DataFolder() const { return folder_.path() + QStringLiteral("/data"); }

    bool Run(const QString &program, const QStringList &args)
    {
        QProcess process;
        process.setWorkingDirectory(folder_.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (geteuid() == 0)
            process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                                 QStringLiteral("--"), bin_ + '/' + program} +
                                                         args);
        else
            process.start(bin_ + '/' + program, args);
        const bool ran = process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit &&
                         process.exitCode() == 0;
        if (!ran)
            failure_ = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return ran;
    }

    QString bin_;
    QTemporaryDir folder_{QDir::tempPath() + QStringLiteral("/talvor-pg-XXXXXX")};
    QString failure_;
    bool running_ = false;
};
