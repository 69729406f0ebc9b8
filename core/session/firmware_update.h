#pragma once
// The firmware update: leads the reader's boot loader through an update from
// an image copy in memory. Runs on the session's worker; stop requests are
// looked at after each step; progress goes out as values.

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

#include "core/session/image_copy.h"
#include "core/session/values.h"

class FrameLink;
class SerialPort;


// How far a stop request reaches: "Stop" ends the boot loader countdown only;
// a closing window or an interrupted command ends the transfer too.
struct UpdateStop {
    std::atomic<bool> countdown{false};
    std::atomic<bool> everything{false};
};

namespace firmware_update {

inline constexpr uint8_t kBootCommand = 0x3E;
inline constexpr int kConnectAttempts = kBootEntryAttempts;
inline constexpr uint16_t kBootReplyBytes = 100;
inline constexpr uint16_t kBlockReplyBytes = 20;
// The boot loader's byte count is one byte, so any request fits.
inline constexpr size_t kBlockSize = 255;
inline constexpr int kClosingBytes = 66;
// Data blocks one update may take before the boot loader counts as going
// round in circles: one per byte of the section (a block carries at least
// one; the 16-bit offset reaches 65536 bytes) and some repeats.
inline constexpr int64_t kMaxSectionOffsets = 0x10000;
inline constexpr int64_t kRepeatedBlocks = 256;
int64_t DataBlockLimit(int32_t sectionSize);

// What the journal, the service report and the command line call a block:
// one data block of the program section that the boot loader took, counted
// once per offset (a block it asks for again counts once). Its total is the
// section, as far as 16-bit offsets reach, in blocks of the size of the
// boot loader's first request, the last one short; until the boot loader
// asks, in blocks of 66 bytes. The boot loader ends the transfer when it
// holds every block it wants: a completed update has taken its total, and a
// total it outgrew is raised to what it took. The window's progress bar
// counts the image's steps instead (UpdateProgress::stepsDone).
int DataBlockTotal(int32_t sectionSize, uint32_t blockBytes);

using ProgressSink = std::function<void(const UpdateProgress &)>;

// Checks image and runs the whole update on the calling thread; port is the
// line under link, watched for going away.
UpdateResult Run(FrameLink &link, SerialPort &port, const image_copy::ImageCopy &image, const UpdateStop &stop,
                 const ProgressSink &sink);

}  // namespace firmware_update
