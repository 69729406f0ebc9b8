#include "sim/boot_loader.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "sim/simulated_reader.h"

namespace sim {

namespace {

constexpr uint8_t kStatusRequest = 0x01;
constexpr uint8_t kStatusClosing = 0x02;
constexpr uint8_t kStatusEnd = 0x80;
constexpr uint8_t kStatusError = 0xFF;
constexpr uint8_t kWrongBlockNumber = 10;

constexpr size_t kBlockHeader = 3;  // kind, offset low, offset high
constexpr size_t kClosingBytes = 66;
constexpr char kClosingText[] = "0123456789";
// 16-bit offsets and 8-bit lengths reach no further.
constexpr size_t kMaxImage = 0xFFFF + 0xFF;

bool Is(const Bytes &payload, const char *text)
{
    const size_t n = std::strlen(text);
    return payload.size() == n && std::equal(payload.begin(), payload.end(), text);
}

std::vector<BlockRequest> PlanFor(const BootLoaderOptions &options)
{
    if (!options.plan.empty())
        return options.plan;
    std::vector<BlockRequest> plan;
    const uint32_t size = std::min<uint32_t>(options.sectionSize, 0xFFFF + 1);
    const uint32_t step = std::max<uint32_t>(options.blockSize, 1);
    for (uint32_t offset = 0; offset < size; offset += step)
        plan.push_back({uint16_t(offset), uint8_t(std::min(step, size - offset))});
    if (options.reverseOrder)
        std::reverse(plan.begin(), plan.end());
    if (options.repeatBlock > 0 && size_t(options.repeatBlock) <= plan.size())
        plan.insert(plan.begin() + options.repeatBlock, plan[size_t(options.repeatBlock) - 1]);
    return plan;
}

}  // namespace

BootLoader::BootLoader(BootLoaderOptions options) : options_(std::move(options)) {}

bool BootLoader::SectionSizeOfImage(const std::string &path, uint32_t &sectionSize)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return false;
    const std::streamoff size = file.tellg();
    if (size < 8)
        return false;
    uint8_t bytes[4] = {};
    file.seekg(size - 4);
    if (!file.read(reinterpret_cast<char *>(bytes), 4))
        return false;
    sectionSize = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                  uint32_t(bytes[3]) << 24;
    return true;
}

void BootLoader::AttachLine(SimulatedReader *reader)
{
    std::lock_guard<std::mutex> guard(lock_);
    reader_ = reader;
}

BootLoaderOptions BootLoader::Options() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return options_;
}

void BootLoader::SetOptions(const BootLoaderOptions &options)
{
    std::lock_guard<std::mutex> guard(lock_);
    options_ = options;
}

void BootLoader::Reset()
{
    std::lock_guard<std::mutex> guard(lock_);
    record_ = {};
    running_ = false;
    plan_.clear();
    next_ = 0;
    asked_ = endSent_ = resumed_ = false;
    image_.clear();
    waitingAttempts_ = 0;
}

BootLoaderRecord BootLoader::Record() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return record_;
}

std::vector<uint8_t> BootLoader::Received() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return image_;
}

bool BootLoader::WriteReceived(const std::string &path) const
{
    const std::vector<uint8_t> bytes = Received();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

bool BootLoader::HandlesFrame(uint8_t command, const Bytes &payload) const
{
    return command == kCommand && !payload.empty();
}

std::optional<Bytes> BootLoader::OnFrame(ReaderState &state, uint8_t, const Bytes &payload)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (Is(payload, "PROG"))
        return OnBootEntry();
    // The reader's own firmware knows nothing of the transfer.
    if (!running_)
        return std::nullopt;
    if (Is(payload, "NEXT"))
        return OnNext();
    if (payload[0] == 0x01 && payload.size() >= kBlockHeader)
        return OnDataBlock(payload);
    if (payload[0] == 0x02 && payload.size() >= kBlockHeader)
        return OnClosingBlock(state, payload);
    return std::nullopt;
}

std::optional<Bytes> BootLoader::OnBootEntry()
{
    ++record_.bootRequests;
    if (!running_) {
        if (options_.bootAfterAttempts == BootLoaderOptions::kNever ||
            waitingAttempts_ < options_.bootAfterAttempts) {
            ++waitingAttempts_;
            if (options_.answerNotBoot)
                return Bytes{'W', 'A', 'I', 'T'};
            return std::nullopt;
        }
    }
    // Every boot entry starts the transfer afresh.
    StartSession();
    return Bytes{'B', 'O', 'O', 'T'};
}

void BootLoader::StartSession()
{
    running_ = true;
    plan_ = PlanFor(options_);
    next_ = 0;
    sessionBlocks_ = 0;
    asked_ = endSent_ = resumed_ = false;
    image_.clear();
}

Bytes BootLoader::AskFor(const BlockRequest &request)
{
    record_.asked.push_back(request);
    asked_ = true;
    return Bytes{kStatusRequest, uint8_t(request.offset & 0xFF), uint8_t(request.offset >> 8), 0x00,
                 request.count};
}

Bytes BootLoader::AskNextOrEnd()
{
    if (next_ < plan_.size())
        return AskFor(plan_[next_]);
    endSent_ = true;
    return Bytes{kStatusEnd};
}

std::optional<Bytes> BootLoader::OnNext()
{
    ++record_.nextQueries;
    if (options_.silentNext)
        return std::nullopt;
    if (endSent_) {
        if (options_.resumeAfterEnd && !resumed_) {
            resumed_ = true;
            endSent_ = false;
            plan_.push_back(plan_.empty() ? BlockRequest{0, options_.blockSize} : plan_.front());
            next_ = plan_.size() - 1;
            return AskFor(plan_[next_]);
        }
        return Bytes{kStatusClosing};
    }
    if (next_ < plan_.size())
        return AskFor(plan_[next_]);
    endSent_ = true;
    return Bytes{kStatusClosing};
}

std::optional<Bytes> BootLoader::OnDataBlock(const Bytes &payload)
{
    ++record_.dataBlocks;
    const int number = ++sessionBlocks_;
    const BlockRequest got{uint16_t(payload[1] | payload[2] << 8), uint8_t(payload.size() - kBlockHeader)};
    const size_t gotLength = payload.size() - kBlockHeader;
    record_.headers.push_back(got);

    if (options_.unplugAtBlock == number)
        SpoilNextReply(true);
    if (options_.silentFromBlock > 0 && number >= options_.silentFromBlock)
        return std::nullopt;
    if (options_.errorAtBlock == number)
        return Bytes{kStatusError, options_.errorCode};

    // A block after the end (the PC repeating the last one) ends again.
    if (!asked_ || next_ >= plan_.size()) {
        endSent_ = true;
        return Bytes{kStatusEnd};
    }
    const BlockRequest &expected = plan_[next_];
    if (got.offset != expected.offset || gotLength != expected.count) {
        ++record_.misplacedBlocks;
        return Bytes{kStatusError, kWrongBlockNumber};
    }

    const size_t end = std::min(size_t(got.offset) + gotLength, kMaxImage);
    if (image_.size() < end)
        image_.resize(end, 0);
    std::copy(payload.begin() + kBlockHeader, payload.begin() + kBlockHeader + (end - got.offset),
              image_.begin() + got.offset);
    record_.received.push_back(got);
    ++next_;

    if (options_.badCheckAtBlock == number)
        SpoilNextReply(false);
    return AskNextOrEnd();
}

std::optional<Bytes> BootLoader::OnClosingBlock(ReaderState &state, const Bytes &payload)
{
    ++record_.closingBlocks;
    bool good = payload.size() == kBlockHeader + kClosingBytes &&
                std::equal(kClosingText, kClosingText + 10, payload.begin() + kBlockHeader);
    if (good)
        good = std::all_of(payload.begin() + kBlockHeader + 10, payload.end(), [](uint8_t b) { return b == 0; });
    if (!good) {
        ++record_.badClosingBlocks;
        return std::nullopt;
    }
    record_.completed = true;
    running_ = false;
    waitingAttempts_ = 0;
    if (options_.newFirmwareMajor >= 0) {
        state.firmwareMajor = uint8_t(options_.newFirmwareMajor);
        state.firmwareMinor = uint8_t(options_.newFirmwareMinor);
    }
    if (!options_.outputFile.empty()) {
        std::ofstream file(options_.outputFile, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char *>(image_.data()), std::streamsize(image_.size()));
    }
    return Bytes{0x00};
}

void BootLoader::SpoilNextReply(bool vanish)
{
    if (!reader_)
        return;
    Faults faults = reader_->GetFaults();
    if (vanish)
        faults.vanish = 1;
    else
        faults.badCheck = 1;
    reader_->SetFaults(faults);
}

}  // namespace sim
