#pragma once
// The simulated reader's boot loader: it answers the boot entry request
// (command 0x3E, "PROG") with "BOOT", then leads the transfer of the program
// section block by block ("NEXT", data blocks, the closing block), stores
// what it receives, and misbehaves on request.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/responder.h"

namespace sim {

class SimulatedReader;

struct BlockRequest {
    uint16_t offset = 0;
    uint8_t count = 0;
    bool operator==(const BlockRequest &other) const
    {
        return offset == other.offset && count == other.count;
    }
};

struct BootLoaderOptions {
    static constexpr int kNever = -1;

    // Boot entry requests left without "BOOT" before the boot loader runs;
    // kNever: it never does.
    int bootAfterAttempts = 0;
    // Those attempts get a valid reply without "BOOT" instead of silence.
    bool answerNotBoot = false;

    // The program section it asks for, and how.
    uint32_t sectionSize = 0;
    uint8_t blockSize = 66;
    bool reverseOrder = false;
    int repeatBlock = 0;              // block N (1-based) is asked for twice in a row; 0: none
    std::vector<BlockRequest> plan;   // when not empty: exactly these requests, in this order
    bool silentNext = false;          // the next-block query gets no answer at all

    // Faults, by the number of the data block received since the last boot
    // entry (1 = the first; 0: off).
    int errorAtBlock = 0;
    uint8_t errorCode = 1;            // 1 model, 2 device number, 3 size, 10 block number, 11 checksum
    int badCheckAtBlock = 0;          // the reply goes out with a wrong check byte
    int silentFromBlock = 0;          // this block and all later ones get no answer
    int unplugAtBlock = 0;            // the line goes away instead of answering (needs AttachLine)
    bool resumeAfterEnd = false;      // after 0x80 the next query asks for the first block again

    // After a good closing block: where to write what arrived (empty: nowhere),
    // and the firmware version the reader reports from then on (major < 0: unchanged).
    std::string outputFile;
    int newFirmwareMajor = -1;
    int newFirmwareMinor = 0;
};

// What the boot loader has seen, for tests and the log.
struct BootLoaderRecord {
    int bootRequests = 0;
    int nextQueries = 0;
    int dataBlocks = 0;
    int misplacedBlocks = 0;   // offset or length other than asked (answered with code 10)
    int closingBlocks = 0;
    int badClosingBlocks = 0;  // not "0123456789" and zeros
    bool completed = false;
    std::vector<BlockRequest> asked;     // every block request sent, in order
    std::vector<BlockRequest> received;  // every data block stored, in order
    std::vector<BlockRequest> headers;   // offset and length of every data block that came
};

class BootLoader : public Responder {
public:
    static constexpr uint8_t kCommand = 0x3E;

    explicit BootLoader(BootLoaderOptions options = {});

    // The section size from an image file's trailer (32 bits at its end);
    // false when the file cannot be read or is shorter than 8 bytes.
    static bool SectionSizeOfImage(const std::string &path, uint32_t &sectionSize);

    // Line faults (a wrong check byte, the line going away) go through the reader.
    void AttachLine(SimulatedReader *reader);

    BootLoaderOptions Options() const;
    // Taken by the next request; a running transfer keeps its block plan.
    void SetOptions(const BootLoaderOptions &options);
    // Back to the firmware, with the record and the received bytes cleared.
    void Reset();

    BootLoaderRecord Record() const;
    // The bytes received so far at their offsets (zeros where nothing came).
    std::vector<uint8_t> Received() const;
    // Writes Received() to path; false when it cannot be written.
    bool WriteReceived(const std::string &path) const;

    bool HandlesFrame(uint8_t command, const Bytes &payload) const override;
    std::optional<Bytes> OnFrame(ReaderState &state, uint8_t command, const Bytes &payload) override;

private:
    std::optional<Bytes> OnBootEntry();
    std::optional<Bytes> OnNext();
    std::optional<Bytes> OnDataBlock(const Bytes &payload);
    std::optional<Bytes> OnClosingBlock(ReaderState &state, const Bytes &payload);
    void StartSession();
    Bytes AskFor(const BlockRequest &request);
    Bytes AskNextOrEnd();
    void SpoilNextReply(bool vanish);

    mutable std::mutex lock_;
    BootLoaderOptions options_;
    BootLoaderRecord record_;
    SimulatedReader *reader_ = nullptr;

    bool running_ = false;  // the boot loader (not the firmware) answers
    std::vector<BlockRequest> plan_;
    size_t next_ = 0;       // index in plan_ of the block asked for last, once asked
    bool asked_ = false;
    bool endSent_ = false;
    bool resumed_ = false;
    int waitingAttempts_ = 0;  // boot entry requests left without "BOOT" so far
    int sessionBlocks_ = 0;    // data blocks since the last boot entry; faults count these
    std::vector<uint8_t> image_;
};

}  // namespace sim
