// gtest main for every test program: a QApplication exists for the whole run,
// on the main thread, as in the tool.
#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The named mutexes live on in shared memory by design (another copy of the
// tool may use them). The ones this test program made, named with its process
// id, are removed at the end so that test runs leave nothing behind.
void RemoveOwnNamedMutexes()
{
    // The settings lock is the port lock's name with "1" appended.
    const QRegularExpression ownName(
        QStringLiteral("^talvor-.*-%1(1)?(-.*)?$").arg(QString::number(getpid())));
    const QStringList names = QDir(QStringLiteral("/dev/shm")).entryList(QDir::Files | QDir::System);
    for (const QString &name : names) {
        if (ownName.match(name).hasMatch())
            shm_unlink(("/" + name).toLocal8Bit().constData());
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    RemoveOwnNamedMutexes();
    return result;
}
