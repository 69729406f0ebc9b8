#pragma once
// The reader's settings store: answers the bare 12-byte settings blocks. A
// read (0x55) gets the stored record, a write (0xAA) stores the block's record
// and gets it back; byte 0 of a reply echoes the command, bytes 10-11 carry
// the CRC-16/MODBUS. It misbehaves on request, also while running.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/protocol/settings_record.h"
#include "sim/responder.h"

namespace sim {

class SettingsStore : public Responder {
public:
    enum class WriteMode : uint8_t {
        Store,            // as the reader does
        AnswerNoStore,    // answers a write but keeps the old record
        IgnoreWrites,     // stays silent on writes (reads are answered)
    };

    struct Options {
        SettingsRecord record{};
        bool silent = false;     // no reply at all
        bool wrongCrc = false;   // replies with a spoiled CRC
        size_t shortReply = 0;   // 1 to 11: only that many bytes of each reply; 0: whole replies
        WriteMode writes = WriteMode::Store;
        // Bits a stored write leaves as they were: fields this reader refuses
        // while it answers the write as if all went well.
        SettingsRecord refusedBits{};
    };

    SettingsStore() = default;
    explicit SettingsStore(const Options &options) : options_(options) {}

    bool HandlesBlock(const SettingsBlock &block) const override;
    std::optional<Bytes> OnBlock(ReaderState &state, const SettingsBlock &block) override;

    SettingsRecord Record() const;
    void SetRecord(const SettingsRecord &record);
    Options GetOptions() const;
    void SetOptions(const Options &options);
    void SetSilent(bool on);
    void SetWrongCrc(bool on);
    void SetShortReply(size_t bytes);
    void SetWriteMode(WriteMode mode);
    void SetRefusedBits(const SettingsRecord &bits);
    // The reader is away for the next n blocks: none of them gets an answer.
    void Unplug(int blocks);
    int UnpluggedBlocksLeft() const;

    // What arrived, for tests and the log.
    uint64_t Reads() const;
    uint64_t Writes() const;
    uint64_t Stores() const;
    uint64_t BadRequests() const;
    SettingsBlockBytes LastRequest() const;

private:
    mutable std::mutex lock_;
    Options options_;
    int unpluggedBlocks_ = 0;
    uint64_t reads_ = 0;
    uint64_t writes_ = 0;
    uint64_t stores_ = 0;
    uint64_t badRequests_ = 0;
    SettingsBlockBytes lastRequest_{};
};

}  // namespace sim

namespace sim {

// Nine bytes in hex, as "00 00 00 00 00 01 00 00 00", with ':' or '-' between
// the bytes, or as 18 digits in a row.
bool ParseSettingsRecord(const std::string &text, SettingsRecord &record);

}  // namespace sim
