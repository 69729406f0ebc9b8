#include "sim/simulated_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "core/protocol/frame.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kReadBlock = 0x55;
constexpr uint8_t kWriteBlock = 0xAA;
constexpr size_t kBlockLength = std::tuple_size<SettingsBlock>::value;
// A write that the tool does not drain within this long is given up.
constexpr int kWriteStallMs = 1000;

std::string ErrnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

// Sleeps to an absolute point of the monotonic clock (steady_clock is
// CLOCK_MONOTONIC here), so byte times do not round up to whole milliseconds.
void SleepUntil(Clock::time_point deadline)
{
    const auto since = deadline.time_since_epoch();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec ts{};
    ts.tv_sec = time_t(secs.count());
    ts.tv_nsec = long(std::chrono::duration_cast<std::chrono::nanoseconds>(since - secs).count());
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

Clock::duration LineTime(size_t bytes, uint32_t baud)
{
    // 8N1: ten bit times per byte.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(bytes) * 10.0 / double(baud)));
}

bool WriteAll(int fd, const uint8_t *data, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, data + done, count - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kWriteStallMs) > 0 && (p.revents & POLLOUT))
                continue;
        }
        return false;
    }
    return true;
}

std::string Hex(const Bytes &bytes)
{
    std::string out;
    char piece[4];
    for (uint8_t b : bytes) {
        std::snprintf(piece, sizeof piece, "%02X ", b);
        out += piece;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

bool ValidLinkName(const std::string &name)
{
    return !name.empty() && name.size() <= SimulatedReader::kMaxLinkName &&
           name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace

SimulatedReader::SimulatedReader(Options options) : options_(std::move(options)), state_(options_.state)
{
}

SimulatedReader::~SimulatedReader() { Stop(); }

void SimulatedReader::AddResponder(std::shared_ptr<Responder> responder)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    responders_.push_back(std::move(responder));
}

std::string SimulatedReader::LinkPath() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return options_.folder + "/" + options_.linkName;
}

std::string SimulatedReader::SlavePath() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return slavePath_;
}

bool SimulatedReader::LineUp() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return master_ >= 0;
}

bool SimulatedReader::Start()
{
    error_.clear();
    if (running_) {
        error_ = "already running";
        return false;
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = ErrnoText("cannot create the wake pipe");
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(lineLock_);
        std::string error;
        if (!OpenLine(error)) {
            error_ = error;
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
            return false;
        }
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    parse_ = Parse::Idle;
    request_.clear();
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void SimulatedReader::Stop()
{
    if (thread_.joinable()) {
        stopping_ = true;
        Wake();
        thread_.join();
    }
    {
        std::lock_guard<std::mutex> guard(lineLock_);
        CloseLine();
        comeBackPending_ = false;
        dropRequested_ = false;
    }
    lineChanged_.notify_all();
    for (int *fd : {&wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    running_ = false;
}

bool SimulatedReader::OpenLine(std::string &error)
{
    if (!ValidLinkName(options_.linkName)) {
        error = "the link name must be 1 to " + std::to_string(kMaxLinkName) +
                " characters without '/': \"" + options_.linkName + "\"";
        return false;
    }
    // The folder is shared by every user's simulators, hence sticky and world-writable.
    if (::mkdir(options_.folder.c_str(), 01777) == 0) {
        ::chmod(options_.folder.c_str(), 01777);
    } else if (errno != EEXIST) {
        error = ErrnoText("cannot create " + options_.folder);
        return false;
    }
    struct stat folderInfo{};
    if (::stat(options_.folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
        error = options_.folder + " is not a folder";
        return false;
    }
    const std::string link = options_.folder + "/" + options_.linkName;
    struct stat linkInfo{};
    if (::lstat(link.c_str(), &linkInfo) == 0 && !S_ISLNK(linkInfo.st_mode)) {
        error = link + " exists and is not a link";
        return false;
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = ErrnoText("cannot open a pseudo-terminal");
        return false;
    }
    auto fail = [&](const std::string &what) {
        error = ErrnoText(what);
        ::close(master);
        ::close(slave);
        return false;
    };
    termios t{};
    if (::tcgetattr(slave, &t) != 0)
        return fail("cannot read the line settings");
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B19200);
    ::cfsetospeed(&t, B19200);
    if (::tcsetattr(slave, TCSANOW, &t) != 0)
        return fail("cannot make the line raw");
    if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0)
        return fail("cannot set up the pseudo-terminal");

    // Link under a temporary name and rename it over the old one, so a tool
    // that looks meanwhile sees either the old or the new line, never none.
    const std::string temporary =
        options_.folder + "/." + options_.linkName + "." + std::to_string(::getpid()) + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(name, temporary.c_str()) != 0)
        return fail("cannot create the link " + temporary);
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return fail("cannot publish the link " + link);
    }
    master_ = master;
    slave_ = slave;
    slavePath_ = name;
    linkPublished_ = true;
    return true;
}

void SimulatedReader::CloseLine()
{
    if (linkPublished_) {
        // Another simulator may have taken the name over since; leave its link alone.
        const std::string link = options_.folder + "/" + options_.linkName;
        char target[256] = {};
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, size_t(n)) == slavePath_)
            ::unlink(link.c_str());
        linkPublished_ = false;
    }
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
    slavePath_.clear();
}

void SimulatedReader::Wake()
{
    if (wakeWrite_ >= 0) {
        const uint8_t b = 1;
        (void)!::write(wakeWrite_, &b, 1);
    }
}

ReaderState SimulatedReader::State() const
{
    std::lock_guard<std::mutex> guard(stateLock_);
    return state_;
}

void SimulatedReader::SetState(const ReaderState &state)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    state_ = state;
}

void SimulatedReader::UpdateState(const std::function<void(ReaderState &)> &change)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    change(state_);
}

Counters SimulatedReader::Snapshot() const
{
    std::lock_guard<std::mutex> guard(countLock_);
    return counters_;
}

uint64_t SimulatedReader::Requests() const
{
    std::lock_guard<std::mutex> guard(countLock_);
    return counters_.Requests();
}

uint64_t SimulatedReader::FramesReceived(uint8_t command) const
{
    std::lock_guard<std::mutex> guard(countLock_);
    return counters_.framesByCommand[command];
}

uint64_t SimulatedReader::BlocksReceived() const
{
    std::lock_guard<std::mutex> guard(countLock_);
    return counters_.blocks;
}

bool SimulatedReader::WaitForRequests(uint64_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> guard(countLock_);
    return counted_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return counters_.Requests() >= count; });
}

Faults SimulatedReader::GetFaults() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return options_.faults;
}

void SimulatedReader::SetFaults(const Faults &faults)
{
    std::lock_guard<std::mutex> guard(lineLock_);
    options_.faults = faults;
}

void SimulatedReader::SetBaud(uint32_t baud)
{
    std::lock_guard<std::mutex> guard(lineLock_);
    options_.baud = baud;
}

void SimulatedReader::SetDelivery(Delivery delivery, int burstMs)
{
    std::lock_guard<std::mutex> guard(lineLock_);
    options_.delivery = delivery;
    options_.burstMs = burstMs;
}

void SimulatedReader::SetVerbose(bool on)
{
    std::lock_guard<std::mutex> guard(lineLock_);
    options_.verbose = on;
}

void SimulatedReader::DropLine(int comeBackAfterMs)
{
    std::unique_lock<std::mutex> guard(lineLock_);
    // Not running, or asked by a responder on the I/O thread itself: at once.
    if (!running_ || !thread_.joinable() || std::this_thread::get_id() == thread_.get_id()) {
        CloseLine();
        comeBackPending_ = comeBackAfterMs >= 0 && running_;
        comeBackAt_ = Clock::now() + std::chrono::milliseconds(comeBackAfterMs);
        return;
    }
    // The I/O thread owns the descriptors while it runs: it closes them itself.
    dropRequested_ = true;
    dropRequestMs_ = comeBackAfterMs;
    Wake();
    lineChanged_.wait(guard, [this] { return !dropRequested_ || !running_; });
}

bool SimulatedReader::RestoreLine()
{
    std::unique_lock<std::mutex> guard(lineLock_);
    comeBackPending_ = false;
    if (master_ >= 0)
        return true;
    std::string error;
    const bool ok = OpenLine(error);
    if (!ok)
        error_ = error;
    Wake();
    return ok;
}

bool SimulatedReader::TakeFault(int &count)
{
    if (count == kOff)
        return false;
    if (count > 0)
        --count;
    return true;
}

bool SimulatedReader::LineIsTheReaders(int master) const
{
    // The master reads the termios the slave side was given.
    termios t{};
    if (::tcgetattr(master, &t) != 0)
        return false;
    return ::cfgetispeed(&t) == B19200 && ::cfgetospeed(&t) == B19200 && (t.c_cflag & CSIZE) == CS8 &&
           !(t.c_cflag & PARENB) && !(t.c_cflag & CSTOPB);
}

void SimulatedReader::Log(const char *direction, const Bytes &bytes) const
{
    bool verbose;
    {
        std::lock_guard<std::mutex> guard(lineLock_);
        verbose = options_.verbose;
    }
    if (verbose)
        std::fprintf(stderr, "%s %s\n", direction, Hex(bytes).c_str());
}

void SimulatedReader::Run()
{
    uint8_t buffer[512];
    while (!stopping_) {
        int master;
        int timeoutMs = -1;
        {
            std::lock_guard<std::mutex> guard(lineLock_);
            if (dropRequested_) {
                CloseLine();
                comeBackPending_ = dropRequestMs_ >= 0;
                comeBackAt_ = Clock::now() + std::chrono::milliseconds(dropRequestMs_);
                dropRequested_ = false;
                std::lock_guard<std::mutex> count(countLock_);
                ++counters_.lineDrops;
            }
            if (comeBackPending_ && Clock::now() >= comeBackAt_) {
                comeBackPending_ = false;
                std::string error;
                if (!OpenLine(error))
                    std::fprintf(stderr, "the line cannot come back: %s\n", error.c_str());
            }
            if (comeBackPending_)
                timeoutMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    comeBackAt_ - Clock::now()).count()) + 1;
            master = master_;
        }
        lineChanged_.notify_all();
        if (master < 0) {
            parse_ = Parse::Idle;
            request_.clear();
        }
        if (parse_ != Parse::Idle) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                lastByte_ + std::chrono::milliseconds(options_.partialRequestMs) - Clock::now());
            const int partialMs = std::max(0, int(left.count()) + 1);
            timeoutMs = timeoutMs < 0 ? partialMs : std::min(timeoutMs, partialMs);
        }

        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {master, POLLIN, 0}};
        const int r = ::poll(fds, master >= 0 ? 2 : 1, timeoutMs);
        if (r < 0 && errno != EINTR)
            break;
        if (r > 0 && (fds[0].revents & POLLIN)) {
            while (::read(wakeRead_, buffer, sizeof buffer) > 0) {
            }
        }
        if (r > 0 && master >= 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0 && options_.readerLineOnly && !LineIsTheReaders(master)) {
                Log("<x (line not at 19200 8N1)", Bytes(buffer, buffer + n));
                std::lock_guard<std::mutex> count(countLock_);
                counters_.droppedBytes += uint64_t(n);
            } else if (n > 0) {
                HandleBytes(buffer, size_t(n), Clock::now());
            }
        }
        if (parse_ != Parse::Idle &&
            Clock::now() - lastByte_ > std::chrono::milliseconds(options_.partialRequestMs)) {
            Log("<x", request_);
            std::lock_guard<std::mutex> count(countLock_);
            counters_.droppedBytes += request_.size();
            request_.clear();
            parse_ = Parse::Idle;
        }
    }
    running_ = false;
    lineChanged_.notify_all();
}

void SimulatedReader::HandleBytes(const uint8_t *data, size_t count, Clock::time_point at)
{
    uint64_t dropped = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = data[i];
        switch (parse_) {
        case Parse::Idle:
            if (b == frame::kStart) {
                parse_ = Parse::Frame;
            } else if (b == kReadBlock || b == kWriteBlock) {
                parse_ = Parse::Block;
            } else {
                ++dropped;
                break;
            }
            request_.assign(1, b);
            requestStart_ = at;
            break;
        case Parse::Frame:
            if (b == frame::kStart) {  // a new start abandons the frame so far
                dropped += request_.size();
                request_.assign(1, b);
                requestStart_ = at;
            } else if (b == frame::kEnd) {
                request_.push_back(b);
                parse_ = Parse::Idle;
                FinishFrame();
            } else if (request_.size() >= kMaxRequestBytes) {
                dropped += request_.size() + 1;
                request_.clear();
                parse_ = Parse::Idle;
            } else {
                request_.push_back(b);
            }
            break;
        case Parse::Block:
            request_.push_back(b);
            if (request_.size() == kBlockLength) {
                parse_ = Parse::Idle;
                FinishBlock();
            }
            break;
        }
    }
    lastByte_ = at;
    if (dropped) {
        std::lock_guard<std::mutex> guard(countLock_);
        counters_.droppedBytes += dropped;
    }
}

void SimulatedReader::FinishFrame()
{
    Log("<-", request_);
    const size_t escapedLength = request_.size() - 2;
    Bytes body(escapedLength);
    body.resize(frame::Unescape(request_.data() + 1, escapedLength, body.data()));
    if (body.size() < 3 || frame::Crc8(body.data(), body.size()) != 0) {
        if (body.size() >= 3)
            Log("  bad check byte:", body);
        std::lock_guard<std::mutex> guard(countLock_);
        ++counters_.badFrames;
        counted_.notify_all();
        return;
    }
    const uint8_t command = body[1];
    const size_t header = command >= frame::kLongHeaderFrom ? frame::kLongHeaderLength : 3;
    const size_t payloadEnd = body.size() - 1;
    const Bytes payload(body.begin() + std::min(header, payloadEnd), body.begin() + payloadEnd);
    {
        std::lock_guard<std::mutex> guard(countLock_);
        ++counters_.frames;
        ++counters_.framesByCommand[command];
    }
    counted_.notify_all();

    std::optional<Bytes> reply;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        for (const auto &responder : responders_) {
            if (responder->HandlesFrame(command, payload)) {
                reply = responder->OnFrame(state_, command, payload);
                break;
            }
        }
    }
    if (!reply)
        return;
    const uint8_t replyHeader[] = {frame::kHeaderByte, command, 0x01, 0x00, 0x00, 0x00};
    Bytes replyBody(std::begin(replyHeader), std::end(replyHeader));
    replyBody.reserve(replyBody.size() + reply->size());
    replyBody.insert(replyBody.end(), reply->begin(), reply->end());
    Answer(request_.size(), true, replyBody);
}

void SimulatedReader::FinishBlock()
{
    Log("<-", request_);
    SettingsBlock block{};
    std::copy(request_.begin(), request_.end(), block.begin());
    {
        std::lock_guard<std::mutex> guard(countLock_);
        ++counters_.blocks;
    }
    counted_.notify_all();

    std::optional<Bytes> reply;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        for (const auto &responder : responders_) {
            if (responder->HandlesBlock(block)) {
                reply = responder->OnBlock(state_, block);
                break;
            }
        }
    }
    if (reply && !reply->empty())
        Answer(request_.size(), false, *reply);
}

void SimulatedReader::Answer(size_t requestBytes, bool framed, const Bytes &content)
{
    bool garbageOnly, garbage, badCheck, gap;
    size_t garbageLength, gapAfter;
    int gapMs, burstMs;
    uint32_t baud;
    Delivery delivery;
    {
        std::lock_guard<std::mutex> guard(lineLock_);
        Faults &f = options_.faults;
        if (TakeFault(f.vanish)) {
            if (options_.verbose)
                std::fprintf(stderr, "   the line goes away\n");
            CloseLine();
            comeBackPending_ = f.comeBackAfterMs >= 0;
            comeBackAt_ = Clock::now() + std::chrono::milliseconds(f.comeBackAfterMs);
            std::lock_guard<std::mutex> count(countLock_);
            ++counters_.lineDrops;
            return;
        }
        if (TakeFault(f.silence)) {
            if (options_.verbose)
                std::fprintf(stderr, "   no answer (silence asked for)\n");
            return;
        }
        garbageOnly = TakeFault(f.garbageOnly);
        garbage = !garbageOnly && TakeFault(f.garbage);
        badCheck = !garbageOnly && TakeFault(f.badCheck);
        gap = TakeFault(f.gap);
        garbageLength = f.garbageLength;
        gapAfter = f.gapAfterByte;
        gapMs = f.gapMs;
        baud = options_.baud;
        delivery = options_.delivery;
        burstMs = options_.burstMs;
    }

    Bytes out;
    if (garbage || garbageOnly) {
        std::uniform_int_distribution<int> value(0, 255);
        for (size_t i = 0; i < garbageLength; ++i)
            out.push_back(uint8_t(value(random_)));
    }
    if (!garbageOnly) {
        if (!framed) {
            Bytes block = content;
            if (badCheck)
                block.back() ^= 0xFF;
            out.insert(out.end(), block.begin(), block.end());
        } else if (!badCheck) {
            const Bytes wire = frame::Encode(content);
            out.insert(out.end(), wire.begin(), wire.end());
        } else {
            Bytes body = content;
            body.push_back(uint8_t(frame::Crc8(content.data(), content.size()) ^ 0xFF));
            Bytes escaped(2 * body.size());
            escaped.resize(frame::Escape(body.data(), body.size(), escaped.data(), escaped.size()));
            out.push_back(frame::kStart);
            out.insert(out.end(), escaped.begin(), escaped.end());
            out.push_back(frame::kEnd);
        }
    }
    const size_t gapAt = gap ? (garbage ? garbageLength : 0) + gapAfter : out.size();
    // A real line delivers the request a line time after its first byte left;
    // only then can the reader start to answer.
    const Clock::time_point start =
        baud ? std::max(Clock::now(), requestStart_ + LineTime(requestBytes, baud)) : Clock::now();
    Log("->", out);
    SendPaced(out, start, baud, gapAt, gapMs, delivery, burstMs);
    std::lock_guard<std::mutex> guard(countLock_);
    ++counters_.repliesSent;
    counted_.notify_all();
}

void SimulatedReader::SendPaced(const Bytes &bytes, Clock::time_point start, uint32_t baud, size_t gapAfter,
                                int gapMs, Delivery delivery, int burstMs)
{
    int master;
    {
        std::lock_guard<std::mutex> guard(lineLock_);
        master = master_;
    }
    if (master < 0 || bytes.empty())
        return;
    const Clock::duration byteTime = baud ? LineTime(1, baud) : Clock::duration{};
    const Clock::duration gap = std::chrono::milliseconds(gapMs);
    const size_t firstPart = std::min(gapAfter, bytes.size());
    // When byte i has crossed the line: its own ten bits after the ones before it.
    auto crossed = [&](size_t i) {
        return start + byteTime * long(i + 1) + (i >= gapAfter ? gap : Clock::duration{});
    };
    auto due = [&](size_t i) {
        switch (delivery) {
        case Delivery::ByteByByte:
            return crossed(i);
        case Delivery::Ticks: {
            // The converter's timer runs on its own, not from the reply's start.
            const Clock::duration tick = std::chrono::milliseconds(std::max(1, burstMs));
            const Clock::duration since = crossed(i).time_since_epoch();
            return Clock::time_point((since + tick - Clock::duration(1)) / tick * tick);
        }
        case Delivery::WholeReply:
            break;
        }
        return crossed(i < firstPart ? firstPart - 1 : bytes.size() - 1);
    };
    // Bytes due at the same moment go out in one write.
    for (size_t i = 0; i < bytes.size();) {
        const Clock::time_point at = due(i);
        size_t end = i + 1;
        while (end < bytes.size() && due(end) == at)
            ++end;
        SleepUntil(at);
        if (!WriteAll(master, bytes.data() + i, end - i)) {
            std::fprintf(stderr, "the tool does not take the reply; the rest is dropped\n");
            return;
        }
        i = end;
    }
}

}  // namespace sim
