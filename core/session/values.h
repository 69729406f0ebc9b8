#pragma once
// What a reader session learns and how its jobs end, as plain values that any
// thread may copy: a window draws them, a script prints them. The clients
// word them; only the error lines come worded (texts.h), the same for all.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "core/protocol/device_info.h"
#include "core/protocol/settings_record.h"

// What the monitor last knew of the reader.
struct ReaderSnapshot {
    enum class State { Waiting, Ready, NoAnswer };
    State state = State::Waiting;
    // The last answer, decoded; empty while the reader is silent.
    std::optional<device_info::DeviceInfo> info;
    // The last answer ever heard on this port, kept while the reader is silent.
    std::optional<device_info::DeviceInfo> lastAnswer;
    // The last answer's identity (its bytes 7 to 10): an answer that repeats
    // it changes nothing a window shows, even with other serial bytes.
    uint32_t answerKey = 0;
    uint64_t polls = 0;
    uint64_t answers = 0;
    // Other programs that hold the port, as the monitor names them after
    // silent polls; empty while the reader answers.
    QString holders;
};

enum class UpdateStage {
    Queued,
    WaitingForBootLoader,  // boot entry requests, attemptsLeft counts down
    StartingFirmware,      // the boot entry is over: the transfer starts, or the update ends
    Transfer,              // blocks as the boot loader asks for them
    Completed,
    Failed,
};

// Boot entry requests an update sends at most before it gives up: the
// countdown a client shows starts here.
inline constexpr int kBootEntryAttempts = 100;

struct UpdateProgress {
    UpdateStage stage = UpdateStage::Queued;
    // Boot requests left, counting the one in flight.
    int attemptsLeft = 0;
    // Boot requests that got no "BOOT" answer so far.
    int unansweredAttempts = 0;
    // A boot request got no reply at all.
    bool silenceHeard = false;
    // The image was checked and the update began: the counts below are its own.
    bool imageAccepted = false;
    bool transferBegan = false;
    // The progress bar's steps (the image's layout): at most stepsTotal.
    int stepsDone = 0;
    int stepsTotal = 0;
    // Data blocks, as the journal and the command line count them
    // (firmware_update.h): at most blocksTotal.
    int blocksSent = 0;
    int blocksTotal = 0;
    // The reader's and the session's error lines so far.
    QStringList errorLines;
};

enum class UpdateOutcome {
    Completed,
    ImageRefused,      // the image rules refused the file; nothing was sent
    ImageUnreadable,   // the file could not be opened; nothing was sent
    NoBootLoader,      // no boot loader answered the boot entry requests
    ReaderError,       // the boot loader stopped with an error of its own
    NoAnswer,          // the boot loader fell silent during the transfer
    Stopped,           // stopped by request during the countdown
    Interrupted,       // stopped by request during the transfer: left in the boot loader
    PortVanished,      // the port's device went away (a converter unplugged) during the update
    ConnectionDropped, // the network connection to a far port dropped during the update
};

struct UpdateResult {
    UpdateOutcome outcome = UpdateOutcome::NoAnswer;
    QStringList errorLines;   // the reader's and the session's error texts, in the order they came
    QString refusalReason;    // ImageRefused / ImageUnreadable: why, in plain words
    QString systemText;       // ImageUnreadable: the system's words under the file's name
    int bootAttempts = 0;     // boot entry requests sent
    // Data blocks the boot loader took, of blocksTotal (firmware_update.h):
    // equal after a completed update, fewer after a failed one.
    int blocksSent = 0;
    int blocksTotal = 0;
    // Of the copy that was checked and sent; of a file refused before it was
    // read, the size when known and no hash.
    qint64 imageSize = 0;
    QString imageSha256;       // lower-case hex
    QString imageDescription;  // from the image's trailer, as the window shows it
    bool bootLoaderFound = false;  // the boot loader answered "BOOT"
    // The boot loader's last answer was not the end of the update: it waits
    // for a program (unless the reader has restarted since).
    bool LeftInBootLoader() const
    {
        return outcome == UpdateOutcome::Interrupted || outcome == UpdateOutcome::ReaderError ||
               ((outcome == UpdateOutcome::PortVanished || outcome == UpdateOutcome::ConnectionDropped) &&
                bootLoaderFound);
    }
};

// Why a settings exchange got no good reply; the later, the more telling.
enum class SettingsFailure {
    None,
    NoAnswer,      // nothing came back
    ShortReply,    // part of a reply came back
    BadChecksum,   // a whole reply came back with a CRC that does not match it
    PortVanished,  // the port went away (a converter unplugged)
    ConnectionDropped,  // the network connection to a far port dropped
};

struct SettingsResult {
    bool answered = false;
    SettingsRecord record{};  // what the reader holds, read after any write
    SettingsFailure failure = SettingsFailure::None;  // when not answered: the most telling of the attempts
};

// What the settings window's exchange loop found in one cycle.
struct SettingsEvent {
    enum class Kind {
        Answered,      // the reader answered a block that asked for nothing new
        Read,          // record is what the reader holds
        Written,       // the reader answered the write; its read-back follows
        WriteGivenUp,  // six writes went unanswered (failure says how): the loop reads again
        Silent,        // see lost and noticeOn
    };
    Kind kind = Kind::Answered;
    SettingsRecord record{};
    // Read: what the answered write before it sent, when it follows one.
    std::optional<SettingsRecord> written;
    // Silent, WriteGivenUp: the most telling failure since the last answer;
    // Silent: lost when the reader has just counted as lost, noticeOn while
    // it stays silent after.
    SettingsFailure failure = SettingsFailure::None;
    bool lost = false;
    bool noticeOn = false;
};
