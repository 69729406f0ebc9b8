#pragma once
// One reader's firmware update from the command line, on a thread of its
// own: open the port, ask the reader who it is, run the update, ask again for
// the new firmware version, and keep it all as a journal entry. What happens
// is kept as a state that the display reads and as events in the order they
// came.

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/cli_common.h"

class JobJournal;

namespace cli {

enum class RunPhase { Opening, Asking, WaitingForBootLoader, Transfer, Finishing, Done };

// What the reader last answered once its job was over.
enum class ReaderNow {
    Unknown,     // its port did not open
    BootLoader,  // its boot loader, which waits for a program
    Firmware,    // the monitor's request, from its firmware
    Silent,      // nothing since the update
};

// What a run ended with, beyond the engine's outcomes.
struct RunResult {
    bool portOpened = false;
    QString portFailure;
    UpdateResult update;  // when the port opened and the update ran
    bool updateRan = false;
    double seconds = 0;
    ReaderNow readerNow = ReaderNow::Unknown;
    QString firmwareNow;  // ReaderNow::Firmware: the version it reported, when it did
    // The job's journal entry when neither the journal nor its spool could
    // keep it; empty otherwise.
    QJsonObject journalEntry;

    int ExitCode() const;
    bool Succeeded() const { return ExitCode() == kOk; }
    bool LeftInBootLoader() const { return readerNow == ReaderNow::BootLoader; }
    // "running firmware 6.4", "left in its boot loader (update it again)", ...
    QString ReaderNowText() const;
    // The same as one word for JSON: "firmware", "boot_loader", "silent", "unknown".
    QString ReaderNowWord() const;
    // "completed", "reader error: ...", in plain words.
    QString Text() const;
    // The same as one word for JSON: "completed", "reader_error", ...
    QString Word() const;
};

struct RunState {
    RunPhase phase = RunPhase::Opening;
    UpdateProgress progress;
    QString serialNumber;
    QString firmwareBefore;
    QString firmwareAfter;
    qint64 elapsedMs = 0;
    qint64 transferMs = 0;  // since the first block
    RunResult result;       // once phase is Done
};

class UpdateRun : public SessionObserver {
public:
    struct Options {
        QString imagePath;
        Setting setting;
        // How long a port that does not open yet is tried again (a converter
        // just plugged in may not be ready for a moment).
        int openPatienceMs = 0;
    };

    UpdateRun(PortChoice port, Options options);
    ~UpdateRun() override;
    UpdateRun(const UpdateRun &) = delete;
    UpdateRun &operator=(const UpdateRun &) = delete;

    void Start();
    // Ends the update at its next safe step; may be called again.
    void RequestStop();
    bool Done() const;
    void Join();

    const PortChoice &Port() const { return port_; }
    RunState State() const;
    // The events since the last call, as JSON objects in the order they came.
    std::deque<QJsonObject> TakeEvents();

    void UpdateChanged(const UpdateProgress &progress) override;

private:
    void Execute();
    std::unique_ptr<Session> OpenWithPatience(QString &failure);
    // The reader's first answer to the monitor after the update (its new
    // firmware, or the old one after a failure); nothing when none came in
    // time or a stop was asked. waited: the whole time passed without one.
    std::optional<ReaderSnapshot> WaitForAnswer(const Session &session, const JobJournal &jobs, bool &waited) const;
    void Push(QJsonObject event);
    void Finish(const RunResult &result);

    PortChoice port_;
    Options options_;
    QElapsedTimer clock_;
    std::thread thread_;
    std::atomic<bool> stopAsked_{false};

    mutable std::mutex lock_;  // everything below
    std::unique_ptr<Session> session_;
    RunState state_;
    qint64 transferStartMs_ = -1;
    int lastPercent_ = -1;
    int lastAttemptsLeft_ = -1;
    std::deque<QJsonObject> events_;
};

QString PhaseWord(RunPhase phase);
// The reader's serial number as JSON gives it everywhere: a number, or null when unknown.
QJsonValue SerialJson(const QString &serial);
QString Minutes(qint64 ms);

}  // namespace cli
