// The boot loader dialogue: boot entry with a countdown, then the transfer
// that the boot loader leads block by block, the closing block, and the
// outcome. Stop requests are looked at after each step.

#include "core/session/firmware_update.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "core/line/serial_port.h"
#include "core/protocol/boot_reply.h"
#include "core/protocol/firmware_image.h"
#include "core/session/frame_link.h"
#include "core/session/texts.h"

namespace firmware_update {

namespace {

using boot_reply::kCountAt;
using boot_reply::kOffsetHighAt;
using boot_reply::kOffsetLowAt;
using boot_reply::kStatusAt;
using boot_reply::kStatusClosing;
using boot_reply::kStatusRequest;
using ReplyOutcome = FrameLink::ReplyOutcome;

constexpr char kClosingText[] = "0123456789";  // sent with its terminating zero
// The boot loader finishes its last block before it takes the end sequence.
constexpr std::chrono::milliseconds kEndPause(100);
// What a data block's exchange came to, beyond the boot loader's own codes.
constexpr unsigned kCompleted = 255;

// The line shown for each outcome that ends a transfer without success.
QString OutcomeLine(unsigned outcome)
{
    switch (outcome) {
    case boot_reply::kWrongModel: return update_text::WrongModel();
    case boot_reply::kDeviceNumber: return update_text::DeviceNumber();
    case boot_reply::kProgramSize: return update_text::ProgramSize();
    case boot_reply::kBlockNumber: return update_text::BlockNumber();
    case boot_reply::kChecksumTransmission: return update_text::ChecksumTransmission();
    default: return update_text::NoResponse();
    }
}

enum class NextAnswer { None, Request, Closing };

class Updater {
public:
    Updater(FrameLink &link, SerialPort &port, const image_copy::ImageCopy &image, const UpdateStop &stop,
            const ProgressSink &sink)
        : link_(link), port_(port), image_(image), stop_(stop), sink_(sink),
          lineOpenAtStart_(port.Device().isOpen()), reopensAtStart_(port.Device().reopenCount())
    {
    }

    UpdateResult Run();

private:
    void Report() const
    {
        if (sink_)
            sink_(progress_);
    }
    void SetStage(UpdateStage stage)
    {
        progress_.stage = stage;
        Report();
    }
    void ReportError(const QString &line)
    {
        result_.errorLines << line;
        progress_.errorLines << line;
    }
    bool EverythingStopped() const { return stop_.everything.load(); }
    // A local port that went away was unplugged; a network one dropped its connection.
    UpdateOutcome VanishedOutcome() const
    {
        return port_.Device().remote() ? UpdateOutcome::ConnectionDropped : UpdateOutcome::PortVanished;
    }
    // The port's device went away (or went and came back) since the update began.
    bool LineVanished() const
    {
        return lineOpenAtStart_ &&
               (!port_.Device().isOpen() || port_.Device().reopenCount() != reopensAtStart_);
    }

    bool EnterBootLoader();
    void Transfer();
    NextAnswer RequestNext();
    unsigned SendDataBlock(uint32_t count);
    bool SendClosingBlock();
    void TakeBlockRequest();
    void CountTaken(int32_t offset);
    void SetBlocksTotal(int total);
    void SendBoot(const uint8_t *payload, size_t count) { link_.Send(kBootCommand, payload, count); }

    FrameLink &link_;
    SerialPort &port_;
    const image_copy::ImageCopy &image_;
    const UpdateStop &stop_;
    const ProgressSink &sink_;
    const bool lineOpenAtStart_;
    const unsigned reopensAtStart_;

    firmware_image::Layout layout_;
    int32_t requestOffset_ = 0;
    uint32_t requestCount_ = 0;
    bool blockBytesKnown_ = false;
    // The offsets of the data blocks taken so far.
    std::vector<bool> takenOffsets_ = std::vector<bool>(size_t(kMaxSectionOffsets), false);
    UpdateProgress progress_;
    UpdateResult result_;
};

UpdateResult Updater::Run()
{
    // What the journal records: the copy that is checked and sent, or what
    // is known of a file refused before it was read.
    result_.imageSize = image_.size;
    result_.imageSha256 = image_.sha256;
    if (image_.failure == image_copy::Failure::TooLarge) {
        result_.outcome = UpdateOutcome::ImageRefused;
        result_.refusalReason = image_.verdict.reason;
    } else if (!image_.Read()) {
        result_.outcome = UpdateOutcome::ImageUnreadable;
        result_.refusalReason = image_.reason;
        result_.systemText = image_.systemText;
    } else {
        layout_ = firmware_image::Read(image_.bytes);
        if (!layout_.verdict.Accepted()) {
            result_.outcome = UpdateOutcome::ImageRefused;
            result_.refusalReason = layout_.verdict.reason;
        }
    }
    if (result_.outcome == UpdateOutcome::ImageRefused || result_.outcome == UpdateOutcome::ImageUnreadable) {
        SetStage(UpdateStage::Failed);
        return result_;
    }

    SetBlocksTotal(DataBlockTotal(layout_.sectionSize, firmware_image::kStepBytes));
    result_.imageDescription = firmware_image::DescriptionText(layout_.description).trimmed();
    progress_.imageAccepted = true;
    progress_.stepsTotal = layout_.blockCount;
    if (!EnterBootLoader()) {
        const bool silent =
            result_.outcome == UpdateOutcome::NoBootLoader || result_.outcome == UpdateOutcome::NoAnswer;
        if (silent && LineVanished())
            result_.outcome = VanishedOutcome();
        SetStage(UpdateStage::Failed);
        return result_;
    }
    Transfer();
    return result_;
}

bool Updater::EnterBootLoader()
{
    static constexpr uint8_t kProg[] = {'P', 'R', 'O', 'G'};
    bool found = false;
    for (int i = 0; i < kConnectAttempts; ++i) {
        SendBoot(kProg, sizeof kProg);
        progress_.stage = UpdateStage::WaitingForBootLoader;
        progress_.attemptsLeft = kConnectAttempts - i;
        Report();
        ++result_.bootAttempts;
        const ReplyOutcome reply = link_.Receive(kBootReplyBytes, true);
        if (reply == ReplyOutcome::Valid && std::memcmp(link_.Reply() + kStatusAt, "BOOT", 4) == 0) {
            found = true;
            break;
        }
        ++progress_.unansweredAttempts;
        progress_.silenceHeard = progress_.silenceHeard || reply == ReplyOutcome::NoReply;
        Report();
        if (stop_.countdown || EverythingStopped())
            break;
    }
    const bool stopped = stop_.countdown || EverythingStopped();
    result_.bootLoaderFound = found;
    // The boot loader answered: it now waits for a program.
    if (!found)
        result_.outcome = stopped ? UpdateOutcome::Stopped : UpdateOutcome::NoBootLoader;
    else
        result_.outcome = EverythingStopped() ? UpdateOutcome::Interrupted : UpdateOutcome::NoAnswer;
    SetStage(UpdateStage::StartingFirmware);
    if (!found || EverythingStopped() || RequestNext() == NextAnswer::None)
        return false;
    progress_.transferBegan = true;
    SetStage(UpdateStage::Transfer);
    return true;
}

void Updater::TakeBlockRequest()
{
    requestCount_ = link_.Reply()[kCountAt];
    requestOffset_ = link_.Reply()[kOffsetLowAt] + 256 * link_.Reply()[kOffsetHighAt];
    if (!blockBytesKnown_) {
        blockBytesKnown_ = true;
        SetBlocksTotal(DataBlockTotal(layout_.sectionSize, requestCount_));
    }
}

void Updater::SetBlocksTotal(int total)
{
    result_.blocksTotal = progress_.blocksTotal = std::max(total, result_.blocksSent);
}

void Updater::CountTaken(int32_t offset)
{
    if (offset < 0 || offset >= kMaxSectionOffsets || takenOffsets_[size_t(offset)])
        return;
    takenOffsets_[size_t(offset)] = true;
    result_.blocksSent = progress_.blocksSent = result_.blocksSent + 1;
    SetBlocksTotal(result_.blocksTotal);
}

NextAnswer Updater::RequestNext()
{
    static constexpr uint8_t kNext[] = {'N', 'E', 'X', 'T'};
    SendBoot(kNext, sizeof kNext);
    if (link_.Receive(kBlockReplyBytes, true) != ReplyOutcome::Valid)
        return NextAnswer::None;
    const uint8_t status = link_.Reply()[kStatusAt];
    if (status == kStatusRequest)
        TakeBlockRequest();
    return status == kStatusClosing ? NextAnswer::Closing : NextAnswer::Request;
}

void Updater::Transfer()
{
    bool aborted = EverythingStopped();
    unsigned outcome = boot_reply::kGoOn;
    const int64_t blockLimit = DataBlockLimit(layout_.sectionSize);
    int64_t blocks = 0;
    while (!aborted) {
        // A boot loader that never ends (the same block for ever, no 0x80)
        // must not hold the session: it counts as not answering.
        if (++blocks > blockLimit) {
            outcome = boot_reply::kNoAnswer;
            break;
        }
        const int32_t offset = requestOffset_;
        outcome = SendDataBlock(requestCount_);
        if (outcome == boot_reply::kGoOn || outcome == kCompleted)
            CountTaken(offset);
        if (outcome != boot_reply::kGoOn)
            break;
        // The bar stops at its maximum: a boot loader may ask for more blocks
        // than the image's count.
        progress_.stepsDone = std::min<int>(progress_.stepsDone + 1, layout_.blockCount);
        Report();
        aborted = EverythingStopped();
    }
    // A transfer ended by request has nobody left to report to.
    if (aborted) {
        result_.outcome = UpdateOutcome::Interrupted;
        SetStage(UpdateStage::Failed);
        return;
    }
    // Silence from a line that has gone away is no answer of the reader's.
    const bool vanished = outcome == boot_reply::kNoAnswer && LineVanished();
    result_.outcome = outcome == kCompleted               ? UpdateOutcome::Completed
                      : vanished                          ? VanishedOutcome()
                      : outcome == boot_reply::kNoAnswer ? UpdateOutcome::NoAnswer
                                                          : UpdateOutcome::ReaderError;
    // Every block the boot loader wanted is in.
    if (outcome == kCompleted)
        result_.blocksTotal = progress_.blocksTotal = result_.blocksSent;
    if (outcome != kCompleted)
        ReportError(!vanished                  ? OutcomeLine(outcome)
                    : port_.Device().remote() ? update_text::ConnectionDropped()
                                              : update_text::PortVanished());
    SetStage(outcome == kCompleted ? UpdateStage::Completed : UpdateStage::Failed);
}

unsigned Updater::SendDataBlock(uint32_t count)
{
    count = std::min<uint32_t>(count, kBlockSize);
    uint8_t payload[3 + kBlockSize] = {0x01, uint8_t(requestOffset_ & 0xFF), uint8_t((requestOffset_ >> 8) & 0xFF)};
    firmware_image::CopySection(image_.bytes, layout_.sectionSize, requestOffset_, count, payload + 3);
    SendBoot(payload, 3 + count);

    switch (link_.Receive(kBlockReplyBytes, true)) {
    case ReplyOutcome::NoReply:
        return boot_reply::kNoAnswer;
    case ReplyOutcome::ChecksumError:
        ReportError(update_text::ChecksumReceiving());
        return boot_reply::kNoAnswer;
    case ReplyOutcome::Valid:
        break;
    }

    const boot_reply::Decoded reply = boot_reply::DecodeBlockReply(link_.Reply());
    switch (reply.step) {
    case boot_reply::Step::NextBlock:
        TakeBlockRequest();
        return boot_reply::kGoOn;
    case boot_reply::Step::End:
        std::this_thread::sleep_for(kEndPause);
        // A failed end sequence goes on with the block as it now stands:
        // renewed by a block request, else the same block again.
        if (RequestNext() == NextAnswer::Closing && SendClosingBlock())
            return kCompleted;
        return boot_reply::kGoOn;
    case boot_reply::Step::Stop:
        break;
    }
    return reply.outcome;
}

bool Updater::SendClosingBlock()
{
    uint8_t payload[3 + kClosingBytes] = {0x02, uint8_t(requestOffset_ & 0xFF),
                                          uint8_t((requestOffset_ >> 8) & 0xFF)};
    std::memcpy(payload + 3, kClosingText, sizeof kClosingText);
    SendBoot(payload, sizeof payload);
    return link_.Receive(kBlockReplyBytes, true) == ReplyOutcome::Valid;
}

}  // namespace

int64_t DataBlockLimit(int32_t sectionSize)
{
    return std::clamp<int64_t>(sectionSize, 0, kMaxSectionOffsets) + kRepeatedBlocks;
}

int DataBlockTotal(int32_t sectionSize, uint32_t blockBytes)
{
    const int64_t bytes = std::clamp<int64_t>(sectionSize, 0, kMaxSectionOffsets);
    const int64_t size = std::max<uint32_t>(blockBytes, 1);
    return int((bytes + size - 1) / size);
}

UpdateResult Run(FrameLink &link, SerialPort &port, const image_copy::ImageCopy &image, const UpdateStop &stop,
                 const ProgressSink &sink)
{
    return Updater(link, port, image, stop, sink).Run();
}

}  // namespace firmware_update
