#pragma once
// TProt: the frame layer plus the firmware update engine that leads the
// reader's boot loader through an update from an image file.

#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

#include "core/protocol/boot_reply.h"
#include "core/protocol/image_check.h"
#include "core/engine/image_copy.h"
#include "core/engine/session_values.h"
#include "core/engine/update_view.h"
#include "core/engine/frame_codec.h"

namespace update_text {
// Shown in the language of the user.
inline QString CouldNotOpen() { return QCoreApplication::translate("TProt", "Could not open file!"); }
inline QString LoadProgram() { return QCoreApplication::translate("TProt", "Load program"); }
inline QString Connect() { return QCoreApplication::translate("TProt", "Connect the device..."); }
// The boot requests left before the update gives up.
inline QString Waiting(int attemptsLeft)
{
    return QCoreApplication::translate("TProt", "Waiting for connection (%1)").arg(attemptsLeft);
}
inline QString Updating() { return QCoreApplication::translate("TProt", "Process of updating the program..."); }
inline QString StartFirmware() { return QCoreApplication::translate("TProt", "Start the firmware..."); }
inline QString Transfer() { return QCoreApplication::translate("TProt", "Process of firmware update..."); }
inline QString Completed() { return QCoreApplication::translate("TProt", "Firmware update completed successfully!"); }
inline QString NoResponse() { return QCoreApplication::translate("TProt", "There is no response from the device!"); }
inline QString ChecksumReceiving() { return QCoreApplication::translate("TProt", "Checksum error receiving!"); }
inline QString WrongModel() { return QCoreApplication::translate("TProt", "Did not match the model!"); }
inline QString DeviceNumber()
{
    return QCoreApplication::translate("TProt", "The device number outside the allowed range!");
}
inline QString ProgramSize()
{
    return QCoreApplication::translate("TProt", "You have exceeded the maximum program size!");
}
inline QString BlockNumber() { return QCoreApplication::translate("TProt", "An incorrect block number!"); }
inline QString ChecksumTransmission() { return QCoreApplication::translate("TProt", "Checksum error transmission!"); }
// The port's device went away during the update: a converter unplugged.
inline QString PortVanished()
{
    return QCoreApplication::translate("TProt", "The port vanished: the reader or its converter was unplugged!");
}
}  // namespace update_text

class TProt : public TProtFrame {
public:
    static constexpr uint8_t kBootCommand = 0x3E;
    static constexpr size_t kDescriptionCapacity = 100;  // 99 bytes and the terminator
    static constexpr int kBlockBytes = 66;               // one progress step of the section
    static constexpr int kClosingBytes = 66;
    // The boot loader's byte count is one byte, so any request fits.
    static constexpr size_t kBlockSize = 255;
    static constexpr int kConnectAttempts = 100;
    static constexpr uint16_t kBootReplyBytes = 100;
    static constexpr uint16_t kBlockReplyBytes = 20;

    // Outcomes of SendDataBlock: the boot loader's, and the engine's own.
    enum : unsigned {
        kNoAnswer = boot_reply::kNoAnswer,
        kGoOn = boot_reply::kGoOn,
        kWrongModel = boot_reply::kWrongModel,
        kDeviceNumber = boot_reply::kDeviceNumber,
        kProgramSize = boot_reply::kProgramSize,
        kBlockNumber = boot_reply::kBlockNumber,
        kChecksumTransmission = boot_reply::kChecksumTransmission,
        kCompleted = 255,
    };

    explicit TProt(TComPort1 &port);
    ~TProt() override;

    void SetView(UpdateView *view) { view_ = view; }
    // Hears each step of an update as a value, on the updating thread; set
    // before an update starts.
    void SetProgressListener(std::function<void(const UpdateProgress &)> listener)
    {
        progressListener_ = std::move(listener);
    }
    // How the last StartUpdate ended.
    const UpdateResult &LastResult() const { return result_; }

    // Image file. OpenImage reads fileName once, whole, into memory (only a
    // regular file, never blocking on it), checks that copy, and shows its
    // description, the name and the block count; 1 on success. 0 when the
    // file cannot be read (after the engine's image-not-opened notice) or is
    // refused by the image rules (ImageVerdict() says why; no notice).
    int OpenImage(const QString &fileName);
    // The image rules' verdict on the file opened last; accepted when none was read.
    const image_check::Verdict &ImageVerdict() const { return imageVerdict_; }
    // The file as read by the last OpenImage; its bytes only while ImageLoaded().
    const image_copy::ImageCopy &Image() const { return image_; }
    bool ImageLoaded() const { return !image_.bytes.isEmpty(); }
    void ReadImageTrailer();
    // Fills the first count bytes of Block from the program section at offset,
    // out of the copy; bytes that do not lie in the file are zeros. Returns
    // the bytes taken from the file.
    int ReadImageBytes(int32_t offset, uint32_t count);
    // Lets go of the copy's bytes; its size and hash stay known.
    void CloseImage();

    // Runs a whole update on the calling thread (the reader session's worker
    // in the tool); fileName is the file dialog's current file name.
    void StartUpdate(const QString &fileName);
    int RunUpdate();
    int EnterBootLoader();
    int RequestNext();
    unsigned SendDataBlock(uint32_t count);
    int SendClosingBlock();
    static int MatchAt(const uint8_t *buffer, const char *text, size_t index);
    // Data blocks one update may take before the boot loader counts as going
    // round in circles: one per byte of the section (a block carries at least
    // one; the 16-bit offset reaches 65536 bytes) and some repeats.
    static constexpr int64_t kMaxSectionOffsets = 0x10000;
    static constexpr int64_t kRepeatedBlocks = 256;
    int64_t DataBlockLimit() const;

    // The description as last read (at most 99 bytes), for tests and the view.
    QByteArray Description() const { return QByteArray(description_, int(descriptionLength_)); }
    qint64 ImageSize() const { return imageSize_; }

    int32_t SectionSize = 0;
    uint32_t RequestCount = 0;
    int32_t RequestOffset = 0;
    uint8_t Block[kBlockSize] = {};
    std::atomic<bool> StopRequested{false};
    uint16_t BlockCount = 0;
    std::atomic<bool> Updating{false};
    // Set when the main window closes during an update: the engine ends after
    // its current step instead of running on unseen. Cleared by whoever starts
    // an update, before it starts: a close that comes first still counts.
    std::atomic<bool> AbortRequested{false};

private:
    // The window, or a view that shows nothing when none is set.
    UpdateView &View();
    // True when the window has asked the update to end.
    bool AbortAsked() const;
    void ReportError(const QString &line);
    void ReportProgress(UpdateStage stage, int attemptsLeft = 0);
    // The outcome of a boot entry that did not lead to a transfer.
    UpdateOutcome BootEntryOutcome(bool found, bool stopped) const;
    void TakeBlockRequest();
    // Bytes [position, position + count) of the copy into out, zeros outside it.
    int ReadFileRange(int64_t position, size_t count, uint8_t *out);
    // The port's device went away (or went and came back) since the update began.
    bool LineVanished() const;

    UpdateView *view_ = nullptr;
    // Blocks sent, as the progress bar shows them: 0 to BlockCount.
    int progressPosition_ = 0;
    char description_[kDescriptionCapacity] = {};
    size_t descriptionLength_ = 0;
    qint64 imageSize_ = 0;
    image_copy::ImageCopy image_;
    image_check::Verdict imageVerdict_;
    bool lineOpenAtStart_ = false;
    unsigned reopensAtStart_ = 0;
    std::function<void(const UpdateProgress &)> progressListener_;
    UpdateResult result_;
};

// The description bytes as text: single-byte characters of the Windows
// Cyrillic code page (ASCII below 0x80).
QString DescriptionText(const QByteArray &bytes);
