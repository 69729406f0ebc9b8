#pragma once
// The simulated reader's line: a pseudo-terminal whose slave is published as
// a symbolic link in the virtual port folder, an I/O thread that cuts the
// incoming bytes into framed requests and bare settings blocks, hands them to
// the responders and sends their answers back, optionally at the pace of a
// real serial line and spoiled by the faults asked for.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/responder.h"

namespace sim {

// How a fault is switched on: kOff, kAlways, or a positive count of the next
// replies it spoils (each spoiled reply uses one up).
inline constexpr int kOff = 0;
inline constexpr int kAlways = -1;

struct Faults {
    int silence = kOff;      // the reply is not sent at all
    int garbage = kOff;      // a burst of random bytes goes out before the reply
    int garbageOnly = kOff;  // a burst of random bytes goes out instead of the reply
    int badCheck = kOff;     // the reply's check byte is wrong
    int gap = kOff;          // the reply pauses gapMs after gapAfterByte bytes
    int vanish = kOff;       // the line goes away instead of answering
    size_t garbageLength = 16;
    size_t gapAfterByte = 4;
    int gapMs = 60;
    // After the line went away: -1 stays away, otherwise a new pseudo-terminal
    // appears under the same link this many milliseconds later.
    int comeBackAfterMs = -1;
};

// How a reply reaches the tool once its bytes have crossed the line.
enum class Delivery {
    // Each reply, or each part of it around a gap, in one write when its last
    // byte has crossed: a real reader's bytes wait in the converter and the
    // kernel, so a pause of this machine delays a reply but never splits it.
    WholeReply,
    // Each byte on its own as it crosses: a pause of this machine longer than
    // the tool's quiet time-out splits the reply.
    ByteByByte,
    // What has crossed is handed over every burstMs, as a USB converter's
    // latency timer does.
    Ticks,
};

struct Options {
    std::string folder = "/tmp/talvor-ports";
    std::string linkName = "talvor-sim";
    uint32_t baud = 0;  // 0: full speed, else both directions take their line time
    Delivery delivery = Delivery::WholeReply;
    int burstMs = 16;   // Delivery::Ticks
    bool verbose = false;
    // A partial request older than this is dropped (the reader's own receive time-out).
    int partialRequestMs = 100;
    // Hears only a line set to 19200 baud, 8 data bits, no parity, 1 stop bit,
    // as a real reader: at other settings the bytes are noise and dropped.
    bool readerLineOnly = false;
    ReaderState state;
    Faults faults;
};

// What arrived, for tests and the log.
struct Counters {
    std::array<uint64_t, 256> framesByCommand{};
    uint64_t frames = 0;      // good framed requests
    uint64_t blocks = 0;      // settings blocks
    uint64_t badFrames = 0;   // framed requests with a wrong check byte or too short
    uint64_t droppedBytes = 0;
    uint64_t repliesSent = 0; // replies that went out (spoiled or not)
    uint64_t lineDrops = 0;

    uint64_t Requests() const { return frames + blocks; }
};

class SimulatedReader {
public:
    static constexpr size_t kMaxLinkName = 15;
    static constexpr size_t kMaxRequestBytes = 1024;

    explicit SimulatedReader(Options options = {});
    ~SimulatedReader();
    SimulatedReader(const SimulatedReader &) = delete;
    SimulatedReader &operator=(const SimulatedReader &) = delete;

    // Responders are asked in the order they were added; the first that
    // handles a request answers it.
    void AddResponder(std::shared_ptr<Responder> responder);

    // Opens the pseudo-terminal, publishes the link and starts the I/O thread.
    // False with ErrorText() when any of it failed (nothing is left behind).
    bool Start();
    // Ends the I/O thread, closes the line and removes the link.
    void Stop();
    bool Running() const { return running_.load(); }
    const std::string &ErrorText() const { return error_; }

    std::string LinkPath() const;
    // The slave of the current pseudo-terminal; empty while the line is away.
    std::string SlavePath() const;
    bool LineUp() const;

    ReaderState State() const;
    void SetState(const ReaderState &state);
    // Runs change on the state under the responders' lock.
    void UpdateState(const std::function<void(ReaderState &)> &change);

    Counters Snapshot() const;
    uint64_t Requests() const;
    uint64_t FramesReceived(uint8_t command) const;
    uint64_t BlocksReceived() const;
    // Waits until at least count requests (frames and blocks) have arrived in
    // all. Plain wait: a GUI thread that must keep serving calls polls Requests().
    bool WaitForRequests(uint64_t count, int timeoutMs) const;

    // Run-time changes, taken by the next request.
    Faults GetFaults() const;
    void SetFaults(const Faults &faults);
    void ClearFaults() { SetFaults(Faults{}); }
    void SetBaud(uint32_t baud);
    void SetDelivery(Delivery delivery, int burstMs = 16);
    void SetVerbose(bool on);

    // Takes the line away now (the link disappears, the tool's side hangs up);
    // comeBackAfterMs as in Faults. Returns once the line is down.
    void DropLine(int comeBackAfterMs = -1);
    // Brings a dropped line back at once, under the same link; false on failure.
    bool RestoreLine();

private:
    using Clock = std::chrono::steady_clock;
    enum class Parse { Idle, Frame, Block };

    bool OpenLine(std::string &error);    // new pty + link; lineLock_ held
    void CloseLine();                     // lineLock_ held
    void Run();
    void Wake();
    void HandleBytes(const uint8_t *data, size_t count, Clock::time_point at);
    void FinishFrame();
    void FinishBlock();
    // content: the reply body without check byte (framed) or the block as sent.
    void Answer(size_t requestBytes, bool framed, const Bytes &content);
    void SendPaced(const Bytes &bytes, Clock::time_point start, uint32_t baud, size_t gapAfter, int gapMs,
                   Delivery delivery, int burstMs);
    bool TakeFault(int &count);
    // The pty's line settings as the tool's side last set them.
    bool LineIsTheReaders(int master) const;
    void Log(const char *direction, const Bytes &bytes) const;

    Options options_;
    std::string error_;

    mutable std::mutex lineLock_;  // line descriptors, link, options, faults
    std::condition_variable lineChanged_;
    int master_ = -1;
    int slave_ = -1;  // kept open so the master never sees the tool's close as a hang-up
    std::string slavePath_;
    bool linkPublished_ = false;
    bool comeBackPending_ = false;
    Clock::time_point comeBackAt_{};
    int dropRequestMs_ = 0;
    bool dropRequested_ = false;

    mutable std::mutex stateLock_;  // state, responders
    std::vector<std::shared_ptr<Responder>> responders_;
    ReaderState state_;

    mutable std::mutex countLock_;
    mutable std::condition_variable counted_;
    Counters counters_;

    // I/O thread only.
    Parse parse_ = Parse::Idle;
    Bytes request_;
    Clock::time_point requestStart_{};
    Clock::time_point lastByte_{};
    std::mt19937 random_{std::random_device{}()};

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace sim
