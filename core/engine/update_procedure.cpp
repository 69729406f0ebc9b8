// The boot loader dialogue: boot entry with a countdown, then the transfer
// that the boot loader leads block by block, the closing block, and the
// outcome reports. Runs on the reader session's worker; "Stop" and a window
// close reach it as requests, looked at after each step.

#include "core/engine/update_procedure.h"

#include "core/protocol/boot_reply.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using boot_reply::kCountAt;
using boot_reply::kOffsetHighAt;
using boot_reply::kOffsetLowAt;
using boot_reply::kStatusAt;
using boot_reply::kStatusClosing;
using boot_reply::kStatusRequest;

constexpr char kClosingText[] = "0123456789";  // sent with its terminating zero

// The boot loader finishes its last block before it takes the end sequence.
constexpr std::chrono::milliseconds kEndPause(100);

class NoView : public UpdateView {
public:
    void SetLoadCaption(const QString &) override {}
    void SetStopEnabled(bool) override {}
    void SetStatusLine(const QString &) override {}
    void SetPercentage(const QString &) override {}
    void SetProgressMaximum(int) override {}
    void SetProgressPosition(int) override {}
    void SetLamp(Lamp) override {}
    void SetLampBlinking(bool) override {}
    void SetErrorIconEnabled(bool) override {}
    void ClearErrorLines() override {}
    void AddErrorLine(const QString &) override {}
    void ClearDescription() override {}
    void AddDescriptionLine(const QString &) override {}
    void ShowFileName(const QString &) override {}
    void Beep() override {}
};

// The line shown for each outcome that ends a transfer without success.
QString OutcomeLine(unsigned outcome)
{
    switch (outcome) {
    case TProt::kWrongModel: return update_text::WrongModel();
    case TProt::kDeviceNumber: return update_text::DeviceNumber();
    case TProt::kProgramSize: return update_text::ProgramSize();
    case TProt::kBlockNumber: return update_text::BlockNumber();
    case TProt::kChecksumTransmission: return update_text::ChecksumTransmission();
    default: return update_text::NoResponse();
    }
}

}  // namespace

TProt::TProt(TComPort1 &port) : TProtFrame(port)
{
    // Every boot loader reply is read up to its end byte only: the 20 ms of
    // quiet after a 14-byte reply would otherwise cost more than the reply.
    SetEndByteEndsRead(true);
}

TProt::~TProt() = default;

UpdateView &TProt::View()
{
    static NoView none;
    return view_ ? *view_ : none;
}

bool TProt::AbortAsked() const
{
    return AbortRequested;
}

void TProt::ReportError(const QString &line)
{
    result_.errorLines << line;
    View().AddErrorLine(line);
    View().SetErrorIconEnabled(true);
}

int TProt::MatchAt(const uint8_t *buffer, const char *text, size_t index)
{
    for (size_t i = 0; text[i] != 0; ++i)
        if (buffer[index + i] != static_cast<uint8_t>(text[i]))
            return 0;
    return 1;
}

void TProt::ReportProgress(UpdateStage stage, int attemptsLeft)
{
    if (progressListener_)
        progressListener_(UpdateProgress{stage, attemptsLeft, progressPosition_, BlockCount});
}

void TProt::StartUpdate(const QString &fileName)
{
    Updating = true;
    result_ = UpdateResult{};
    lineOpenAtStart_ = port_.Device().isOpen();
    reopensAtStart_ = port_.Device().reopenCount();
    const int opened = OpenImage(fileName);
    // What the journal records: the copy that is checked and sent, or what
    // is known of a file refused before it was read.
    result_.imageSize = image_.size;
    result_.imageSha256 = image_.sha256;
    if (!opened) {
        const bool refused = !imageVerdict_.Accepted();
        result_.outcome = refused ? UpdateOutcome::ImageRefused : UpdateOutcome::ImageUnreadable;
        result_.refusalReason = refused ? imageVerdict_.reason : image_.reason;
    } else {
        result_.blocksTotal = BlockCount;
        result_.imageDescription = DescriptionText(Description()).trimmed();
        View().ClearErrorLines();
        StopRequested = false;
        View().SetStopEnabled(true);
        RunUpdate();
    }
    Updating = false;
    View().SetLoadCaption(update_text::LoadProgram());
    View().SetStopEnabled(false);
    CloseImage();
}

bool TProt::LineVanished() const
{
    return lineOpenAtStart_ && (!port_.Device().isOpen() || port_.Device().reopenCount() != reopensAtStart_);
}

int TProt::RunUpdate()
{
    // Values from an earlier update must not be sent if the boot loader
    // skips its first block request.
    RequestOffset = 0;
    RequestCount = 0;
    View().SetPercentage(QStringLiteral("0%"));

    if (EnterBootLoader() == 0) {
        const bool silent =
            result_.outcome == UpdateOutcome::NoBootLoader || result_.outcome == UpdateOutcome::NoAnswer;
        if (silent && LineVanished())
            result_.outcome = UpdateOutcome::PortVanished;
        View().SetLampBlinking(false);
        View().SetLamp(Lamp::Off);
        ReportProgress(UpdateStage::Failed);
        return 1;
    }

    View().SetLampBlinking(true);
    View().SetStatusLine(update_text::Transfer());
    bool aborted = AbortAsked();

    unsigned outcome = kGoOn;
    const int64_t blockLimit = DataBlockLimit();
    int64_t blocks = 0;
    while (!aborted) {
        // A boot loader that never ends (the same block for ever, no 0x80)
        // must not hold the window: it counts as not answering.
        if (++blocks > blockLimit) {
            outcome = kNoAnswer;
            break;
        }
        ReadImageBytes(RequestOffset, RequestCount);
        outcome = SendDataBlock(RequestCount);
        if (outcome == kGoOn || outcome == kCompleted)
            ++result_.blocksSent;
        if (outcome != kGoOn)
            break;
        // The bar stops at its maximum: a boot loader may ask for more blocks
        // than the image's count.
        progressPosition_ = std::min<int>(progressPosition_ + 1, BlockCount);
        View().SetProgressPosition(progressPosition_);
        const unsigned position = unsigned(progressPosition_);
        // No 100 % mark for a section under two blocks: "0%" until success.
        const unsigned percent = BlockCount == 0 ? 0u : position * 100u / BlockCount;
        View().SetPercentage(QString::number(percent) + QLatin1Char('%'));
        ReportProgress(UpdateStage::Transfer);
        aborted = AbortAsked();
    }

    View().SetLampBlinking(false);
    View().SetLamp(Lamp::Off);
    // A window closed mid-transfer has nobody left to report to.
    if (aborted) {
        result_.outcome = UpdateOutcome::Interrupted;
        ReportProgress(UpdateStage::Failed);
        return 1;
    }

    // Silence from a line that has gone away is no answer of the reader's.
    const bool vanished = outcome == kNoAnswer && LineVanished();
    result_.outcome = outcome == kCompleted ? UpdateOutcome::Completed
                      : vanished            ? UpdateOutcome::PortVanished
                      : outcome == kNoAnswer ? UpdateOutcome::NoAnswer
                                             : UpdateOutcome::ReaderError;
    if (outcome == kCompleted) {
        View().SetStatusLine(update_text::Completed());
        View().SetPercentage(QStringLiteral("100%"));
        View().SetLamp(Lamp::Done);
        View().Beep();
    } else {
        ReportError(vanished ? update_text::PortVanished() : OutcomeLine(outcome));
    }
    ReportProgress(outcome == kCompleted ? UpdateStage::Completed : UpdateStage::Failed);
    return 1;
}

UpdateOutcome TProt::BootEntryOutcome(bool found, bool stopped) const
{
    if (!found)
        return stopped ? UpdateOutcome::Stopped : UpdateOutcome::NoBootLoader;
    // The boot loader answered: it now waits for a program.
    return stopped ? UpdateOutcome::Interrupted : UpdateOutcome::NoAnswer;
}

int64_t TProt::DataBlockLimit() const
{
    return std::clamp<int64_t>(SectionSize, 0, kMaxSectionOffsets) + kRepeatedBlocks;
}

int TProt::EnterBootLoader()
{
    View().SetStatusLine(update_text::Connect());
    bool found = false;
    bool aborted = false;
    for (int i = 0; i < kConnectAttempts; ++i) {
        TxLength = 6;
        for (char c : {'P', 'R', 'O', 'G'})
            Put(uint8_t(c));
        SendCommand(kBootCommand);
        ReportProgress(UpdateStage::WaitingForBootLoader, kConnectAttempts - i);
        ++result_.bootAttempts;
        const ReplyOutcome reply = ReceiveReply(kBootReplyBytes);
        if (reply == ReplyOutcome::NoReply)
            View().SetLamp(Lamp::NoReply);
        if (reply == ReplyOutcome::Valid && MatchAt(RxBuffer, "BOOT", kStatusAt)) {
            found = true;
            break;
        }
        View().SetLoadCaption(update_text::Waiting(kConnectAttempts - i));
        aborted = AbortAsked();
        if (StopRequested || aborted)
            break;
    }
    View().SetLoadCaption(update_text::Updating());
    View().SetStatusLine(update_text::StartFirmware());
    aborted = AbortAsked() || aborted;
    result_.bootLoaderFound = found;
    result_.outcome = BootEntryOutcome(found, aborted || StopRequested);
    if (!found || aborted)
        return 0;
    ReportProgress(UpdateStage::Transfer);
    return RequestNext();
}

void TProt::TakeBlockRequest()
{
    RequestCount = RxBuffer[kCountAt];
    RequestOffset = RxBuffer[kOffsetLowAt] + 256 * RxBuffer[kOffsetHighAt];
}

int TProt::RequestNext()
{
    TxLength = 6;
    for (char c : {'N', 'E', 'X', 'T'})
        Put(uint8_t(c));
    SendCommand(kBootCommand);
    if (ReceiveReply(kBlockReplyBytes) != ReplyOutcome::Valid)
        return 0;
    const uint8_t status = RxBuffer[kStatusAt];
    if (status == kStatusRequest)
        TakeBlockRequest();
    return status == kStatusClosing ? 2 : 1;
}

unsigned TProt::SendDataBlock(uint32_t count)
{
    count = std::min<uint32_t>(count, kBlockSize);
    TxLength = 6;
    Put(0x01);
    Put(uint8_t(RequestOffset & 0xFF));
    Put(uint8_t((RequestOffset >> 8) & 0xFF));
    for (uint32_t i = 0; i < count; ++i)
        Put(Block[i]);
    SendCommand(kBootCommand);

    switch (ReceiveReply(kBlockReplyBytes)) {
    case ReplyOutcome::NoReply:
        return kNoAnswer;
    case ReplyOutcome::ChecksumError:
        ReportError(update_text::ChecksumReceiving());
        return kNoAnswer;
    case ReplyOutcome::Valid:
        break;
    }

    const boot_reply::Decoded reply = boot_reply::DecodeBlockReply(RxBuffer);
    switch (reply.step) {
    case boot_reply::Step::NextBlock:
        TakeBlockRequest();
        return kGoOn;
    case boot_reply::Step::End:
        std::this_thread::sleep_for(kEndPause);
        // A failed end sequence goes on with the block as it now stands:
        // renewed by a block request, else the same block again.
        if (RequestNext() == 2 && SendClosingBlock() == 1)
            return kCompleted;
        return kGoOn;
    case boot_reply::Step::Stop:
        break;
    }
    return reply.outcome;
}

int TProt::SendClosingBlock()
{
    ClearBuffer(Block, kBlockSize);
    std::memcpy(Block, kClosingText, sizeof kClosingText);
    TxLength = 6;
    Put(0x02);
    Put(uint8_t(RequestOffset & 0xFF));
    Put(uint8_t((RequestOffset >> 8) & 0xFF));
    for (int i = 0; i < kClosingBytes; ++i)
        Put(Block[i]);
    SendCommand(kBootCommand);
    return ReceiveReply(kBlockReplyBytes) == ReplyOutcome::Valid ? 1 : 0;
}
