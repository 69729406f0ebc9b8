#include "sim/settings_store.h"

#include <algorithm>
#include <cctype>

namespace sim {

bool SettingsStore::HandlesBlock(const SettingsBlock &block) const
{
    return block[0] == settings_protocol::kReadCommand || block[0] == settings_protocol::kWriteCommand;
}

std::optional<Bytes> SettingsStore::OnBlock(ReaderState & /*state*/, const SettingsBlock &block)
{
    using namespace settings_protocol;
    std::lock_guard<std::mutex> guard(lock_);
    std::copy(block.begin(), block.end(), lastRequest_.begin());
    const bool write = block[0] == kWriteCommand;
    if (write)
        ++writes_;
    else
        ++reads_;

    if (unpluggedBlocks_ > 0) {
        --unpluggedBlocks_;
        return std::nullopt;
    }
    // A spoiled request is not understood, so it is not answered.
    if (!SettingsBlockIntact(block.data(), block.size())) {
        ++badRequests_;
        return std::nullopt;
    }
    if (options_.silent || (write && options_.writes == WriteMode::IgnoreWrites))
        return std::nullopt;
    if (write && options_.writes == WriteMode::Store) {
        const SettingsRecord written = RecordOfBlock(block.data());
        for (size_t i = 0; i < written.size(); ++i) {
            const uint8_t refused = options_.refusedBits[i];
            options_.record[i] = uint8_t((options_.record[i] & refused) | (written[i] & ~refused));
        }
        ++stores_;
    }

    SettingsBlockBytes reply = BuildSettingsBlock(block[0], options_.record);
    if (options_.wrongCrc)
        reply[kCrcOffset] ^= 0x5A;
    const size_t length =
        options_.shortReply > 0 && options_.shortReply < kBlockSize ? options_.shortReply : kBlockSize;
    return Bytes(reply.begin(), reply.begin() + length);
}

SettingsRecord SettingsStore::Record() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return options_.record;
}

void SettingsStore::SetRecord(const SettingsRecord &record)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_.record = record;
}

SettingsStore::Options SettingsStore::GetOptions() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return options_;
}

void SettingsStore::SetOptions(const Options &options)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_ = options;
}

void SettingsStore::SetSilent(bool on)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_.silent = on;
}

void SettingsStore::SetWrongCrc(bool on)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_.wrongCrc = on;
}

void SettingsStore::SetShortReply(size_t bytes)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_.shortReply = bytes;
}

void SettingsStore::SetWriteMode(WriteMode mode)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_.writes = mode;
}

void SettingsStore::SetRefusedBits(const SettingsRecord &bits)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_.refusedBits = bits;
}

void SettingsStore::Unplug(int blocks)
{
    std::lock_guard<std::mutex> guard(lock_);
    unpluggedBlocks_ = std::max(0, blocks);
}

int SettingsStore::UnpluggedBlocksLeft() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return unpluggedBlocks_;
}

uint64_t SettingsStore::Reads() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return reads_;
}

uint64_t SettingsStore::Writes() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return writes_;
}

uint64_t SettingsStore::Stores() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return stores_;
}

uint64_t SettingsStore::BadRequests() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return badRequests_;
}

SettingsBlockBytes SettingsStore::LastRequest() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return lastRequest_;
}

}  // namespace sim

namespace sim {

bool ParseSettingsRecord(const std::string &text, SettingsRecord &record)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.size() != 2 * record.size())
        return false;
    SettingsRecord parsed{};
    for (size_t i = 0; i < parsed.size(); ++i)
        parsed[i] = uint8_t(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    record = parsed;
    return true;
}

}  // namespace sim
