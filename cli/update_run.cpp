#include "cli/update_run.h"

#include <QJsonArray>
#include <chrono>

#include "core/journal/job_journal.h"
#include "core/journal/journal.h"

namespace cli {

namespace {

constexpr int kPollMs = 50;

QJsonValue OrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// What the reader answered last: the monitor after the job, else its boot
// loader during it, else nothing. A reader the job never reached (stopped
// before its boot loader answered, and not asked since) as it answered before.
void TellReaderNow(RunResult &result, const ReaderSnapshot &before, const std::optional<ReaderSnapshot> &after,
                   bool waited)
{
    const bool leftInBootLoader = result.updateRan && result.update.LeftInBootLoader();
    const bool asBefore = !after && !leftInBootLoader && !waited && !result.update.bootLoaderFound &&
                          before.state == ReaderSnapshot::State::Ready;
    if (after || asBefore) {
        result.readerNow = ReaderNow::Firmware;
        result.firmwareNow = FirmwareText(after ? *after : before);
    } else {
        result.readerNow = leftInBootLoader ? ReaderNow::BootLoader : ReaderNow::Silent;
    }
}

}  // namespace

QJsonValue SerialJson(const QString &serial)
{
    bool ok = false;
    const int number = serial.toInt(&ok);
    return ok ? QJsonValue(number) : QJsonValue();
}

QString PhaseWord(RunPhase phase)
{
    switch (phase) {
    case RunPhase::Opening: return QStringLiteral("opening");
    case RunPhase::Asking: return QStringLiteral("asking");
    case RunPhase::WaitingForBootLoader: return QStringLiteral("waiting_for_boot_loader");
    case RunPhase::Transfer: return QStringLiteral("transfer");
    case RunPhase::Finishing: return QStringLiteral("finishing");
    case RunPhase::Done: return QStringLiteral("done");
    }
    return QString();
}

QString Minutes(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

int RunResult::ExitCode() const
{
    if (!portOpened)
        return kPortNotOpened;
    if (!updateRan)
        return kInterrupted;  // stopped before the update was queued
    switch (update.outcome) {
    case UpdateOutcome::Completed: return kOk;
    case UpdateOutcome::ImageRefused:
    case UpdateOutcome::ImageUnreadable: return kImageInvalid;
    case UpdateOutcome::NoBootLoader: return kNoAnswer;
    case UpdateOutcome::ReaderError:
    case UpdateOutcome::NoAnswer: return kReaderError;
    case UpdateOutcome::Stopped:
    case UpdateOutcome::Interrupted: return kInterrupted;
    case UpdateOutcome::PortVanished:
    case UpdateOutcome::ConnectionDropped: return kReaderError;
    }
    return kReaderError;
}

QString RunResult::Word() const
{
    if (!portOpened)
        return QStringLiteral("port_not_opened");
    if (!updateRan)
        return QStringLiteral("stopped");
    switch (update.outcome) {
    case UpdateOutcome::Completed: return QStringLiteral("completed");
    case UpdateOutcome::ImageRefused: return QStringLiteral("image_refused");
    case UpdateOutcome::ImageUnreadable: return QStringLiteral("image_unreadable");
    case UpdateOutcome::NoBootLoader: return QStringLiteral("no_boot_loader");
    case UpdateOutcome::ReaderError: return QStringLiteral("reader_error");
    case UpdateOutcome::NoAnswer: return QStringLiteral("no_answer");
    case UpdateOutcome::Stopped: return QStringLiteral("stopped");
    case UpdateOutcome::Interrupted: return QStringLiteral("interrupted");
    case UpdateOutcome::PortVanished: return QStringLiteral("port_vanished");
    case UpdateOutcome::ConnectionDropped: return QStringLiteral("connection_dropped");
    }
    return QString();
}

QString RunResult::Text() const
{
    if (!portOpened)
        return CliUpdate::tr("port not opened: ") + portFailure;
    if (!updateRan)
        return CliUpdate::tr("stopped before the update");
    const QString lines = update.errorLines.join(QStringLiteral(" "));
    switch (update.outcome) {
    case UpdateOutcome::Completed: return CliUpdate::tr("completed");
    case UpdateOutcome::ImageRefused: return CliUpdate::tr("image refused: ") + update.refusalReason;
    case UpdateOutcome::ImageUnreadable: return CliUpdate::tr("image not readable: ") + update.refusalReason;
    case UpdateOutcome::NoBootLoader: return CliUpdate::tr("no boot loader answered");
    case UpdateOutcome::ReaderError: return CliUpdate::tr("reader error: ") + lines;
    case UpdateOutcome::NoAnswer: return CliUpdate::tr("no answer during the transfer: ") + lines;
    case UpdateOutcome::Stopped: return CliUpdate::tr("stopped before the transfer");
    case UpdateOutcome::Interrupted: return CliUpdate::tr("interrupted during the transfer");
    case UpdateOutcome::PortVanished:
        return update.bootLoaderFound ? CliUpdate::tr("the port vanished during the transfer")
                                      : CliUpdate::tr("the port vanished before the boot loader answered");
    case UpdateOutcome::ConnectionDropped:
        return update.bootLoaderFound ? CliUpdate::tr("the connection dropped during the transfer")
                                      : CliUpdate::tr("the connection dropped before the boot loader answered");
    }
    return QString();
}

QString RunResult::ReaderNowText() const
{
    switch (readerNow) {
    case ReaderNow::Unknown: return CliUpdate::tr("not reached");
    case ReaderNow::BootLoader: return CliUpdate::tr("left in its boot loader (update it again)");
    case ReaderNow::Firmware:
        return firmwareNow.isEmpty() ? CliUpdate::tr("running its firmware (version not reported)")
                                     : CliUpdate::tr("running firmware ") + firmwareNow;
    case ReaderNow::Silent: return CliUpdate::tr("silent since its update");
    }
    return QString();
}

QString RunResult::ReaderNowWord() const
{
    switch (readerNow) {
    case ReaderNow::Unknown: return QStringLiteral("unknown");
    case ReaderNow::BootLoader: return QStringLiteral("boot_loader");
    case ReaderNow::Firmware: return QStringLiteral("firmware");
    case ReaderNow::Silent: return QStringLiteral("silent");
    }
    return QString();
}

UpdateRun::UpdateRun(PortChoice port, Options options) : port_(std::move(port)), options_(std::move(options)) {}

UpdateRun::~UpdateRun()
{
    RequestStop();
    Join();
}

void UpdateRun::Start()
{
    clock_.start();
    thread_ = std::thread([this] { Execute(); });
}

void UpdateRun::RequestStop()
{
    stopAsked_ = true;
    const std::lock_guard<std::mutex> hold(lock_);
    if (session_)
        session_->RequestStop(StopScope::Everything);
}

bool UpdateRun::Done() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return state_.phase == RunPhase::Done;
}

void UpdateRun::Join()
{
    if (thread_.joinable())
        thread_.join();
}

RunState UpdateRun::State() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    RunState state = state_;
    if (state.phase != RunPhase::Done) {
        state.elapsedMs = clock_.elapsed();
        state.transferMs = transferStartMs_ < 0 ? 0 : state.elapsedMs - transferStartMs_;
    }
    return state;
}

std::deque<QJsonObject> UpdateRun::TakeEvents()
{
    const std::lock_guard<std::mutex> hold(lock_);
    std::deque<QJsonObject> taken;
    taken.swap(events_);
    return taken;
}

void UpdateRun::Push(QJsonObject event)
{
    // lock_ held
    event.insert(QStringLiteral("port"), port_.name);
    events_.push_back(event);
}

void UpdateRun::UpdateChanged(const UpdateProgress &progress)
{
    const std::lock_guard<std::mutex> hold(lock_);
    const RunPhase before = state_.phase;
    state_.progress = progress;
    if (progress.stage == UpdateStage::WaitingForBootLoader) {
        state_.phase = RunPhase::WaitingForBootLoader;
        if (before != state_.phase || progress.attemptsLeft != lastAttemptsLeft_)
            Push({{QStringLiteral("event"), QStringLiteral("waiting")},
                  {QStringLiteral("attempts_left"), progress.attemptsLeft}});
        lastAttemptsLeft_ = progress.attemptsLeft;
    } else if (progress.stage == UpdateStage::Transfer || progress.stage == UpdateStage::Completed) {
        // The last block is counted as the update completes.
        if (progress.stage == UpdateStage::Transfer)
            state_.phase = RunPhase::Transfer;
        if (transferStartMs_ < 0)
            transferStartMs_ = clock_.elapsed();
        // Data blocks, as the journal counts them (firmware_update.h).
        const int percent = progress.blocksTotal > 0 ? progress.blocksSent * 100 / progress.blocksTotal : 0;
        if (before != state_.phase || percent != lastPercent_)
            Push({{QStringLiteral("event"), QStringLiteral("progress")},
                  {QStringLiteral("blocks"), progress.blocksSent},
                  {QStringLiteral("blocks_total"), progress.blocksTotal},
                  {QStringLiteral("percent"), percent}});
        lastPercent_ = percent;
    }
}

std::unique_ptr<Session> UpdateRun::OpenWithPatience(QString &failure)
{
    for (;;) {
        OpenedSession opened = OpenSession(port_, options_.setting, this);
        if (opened.session)
            return std::move(opened.session);
        failure = opened.failure;
        if (stopAsked_ || clock_.elapsed() + kPollMs > options_.openPatienceMs)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

void UpdateRun::Execute()
{
    RunResult result;
    QString failure;
    std::unique_ptr<Session> session = OpenWithPatience(failure);
    if (!session) {
        result.portFailure = failure;
        Finish(result);
        return;
    }
    result.portOpened = true;
    Session *const live = session.get();
    {
        const std::lock_guard<std::mutex> hold(lock_);
        session_ = std::move(session);
        state_.phase = RunPhase::Asking;
    }

    const ReaderSnapshot before = live->WaitForReader(kAskReaderMs);
    // Its database connections belong to this thread.
    Journal journal(options_.setting.journal);
    JobJournal jobs(journal);
    jobs.SetDetails(options_.setting.details);
    TellJournalTrouble(jobs.BeginUpdate(port_.name, port_.converterSerial, options_.imagePath, before));

    std::future<UpdateResult> update;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        state_.serialNumber = SerialText(before);
        state_.firmwareBefore = FirmwareText(before);
        Push({{QStringLiteral("event"), QStringLiteral("reader")},
              {QStringLiteral("answered"), before.state == ReaderSnapshot::State::Ready},
              {QStringLiteral("serial_number"), SerialJson(state_.serialNumber)},
              {QStringLiteral("firmware"), OrNull(state_.firmwareBefore)}});
        // Taken under the lock, so a stop request either comes first and no
        // update starts, or reaches the session that runs it.
        if (!stopAsked_) {
            update = live->Update(options_.imagePath);
            result.updateRan = true;
        }
    }
    std::optional<ReaderSnapshot> after;
    bool waited = false;
    if (result.updateRan) {
        result.update = update.get();
        jobs.EndUpdate(result.update, live->Reader().polls);
        if (result.update.outcome == UpdateOutcome::Completed) {
            const std::lock_guard<std::mutex> hold(lock_);
            state_.phase = RunPhase::Finishing;
        }
        // A vanished port has nobody left to ask.
        if (result.update.outcome != UpdateOutcome::PortVanished &&
            result.update.outcome != UpdateOutcome::ConnectionDropped)
            after = WaitForAnswer(*live, jobs, waited);
        if (after) {
            const std::lock_guard<std::mutex> hold(lock_);
            state_.firmwareAfter = FirmwareText(*after);
            if (state_.serialNumber.isEmpty())
                state_.serialNumber = SerialText(*after);
        }
    } else {
        UpdateResult stopped;
        stopped.outcome = UpdateOutcome::Stopped;
        jobs.EndUpdate(stopped, live->Reader().polls);
    }
    TellReaderNow(result, before, after, waited);
    {
        const std::lock_guard<std::mutex> hold(lock_);
        session.reset(session_.release());
    }
    session.reset();  // the port is closed before the result is told
    const JournalStatus kept = jobs.FinishUpdate(after);
    TellJournalTrouble(kept);
    if (kept.unkept)
        result.journalEntry = kept.unkept->ToJson();
    Finish(result);
    TellJournalTrouble(journal.Close());
}

std::optional<ReaderSnapshot> UpdateRun::WaitForAnswer(const Session &session, const JobJournal &jobs,
                                                      bool &waited) const
{
    // A fresh answer: the one before the update says nothing of the reader now.
    const uint64_t pollsBefore = session.Reader().polls;
    QElapsedTimer clock;
    clock.start();
    waited = false;
    while (!stopAsked_) {
        const ReaderSnapshot after = session.WaitForReader(kPollMs, pollsBefore);
        if (jobs.AnswerAfterUpdate(after))
            return after;
        if (clock.elapsed() >= JobJournal::kAfterUpdateWaitMs) {
            waited = true;
            break;
        }
    }
    return std::nullopt;
}

void UpdateRun::Finish(const RunResult &finished)
{
    const std::lock_guard<std::mutex> hold(lock_);
    RunResult result = finished;
    result.seconds = double(clock_.elapsed()) / 1000.0;
    state_.elapsedMs = clock_.elapsed();
    state_.result = result;
    state_.phase = RunPhase::Done;
    QJsonArray errors;
    for (const QString &line : result.update.errorLines)
        errors.append(line);
    QJsonObject event{{QStringLiteral("event"), QStringLiteral("result")},
                      {QStringLiteral("result"), result.Word()},
                      {QStringLiteral("text"), result.Text()},
                      {QStringLiteral("exit_code"), result.ExitCode()},
                      {QStringLiteral("serial_number"), SerialJson(state_.serialNumber)},
                      {QStringLiteral("firmware_before"), OrNull(state_.firmwareBefore)},
                      {QStringLiteral("firmware_after"), OrNull(state_.firmwareAfter)},
                      {QStringLiteral("errors"), errors},
                      {QStringLiteral("left_in_boot_loader"), result.LeftInBootLoader()},
                      {QStringLiteral("reader_now"), result.ReaderNowWord()},
                      {QStringLiteral("firmware_now"), OrNull(result.firmwareNow)},
                      {QStringLiteral("seconds"), double(qRound(result.seconds * 10)) / 10}};
    if (!result.journalEntry.isEmpty())
        event.insert(QStringLiteral("journal_entry"), result.journalEntry);
    Push(event);
}

}  // namespace cli
