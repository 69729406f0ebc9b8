#pragma once
// A mutex shared by name between all processes of the machine, with the
// semantics the tool relies on: timed and untimed wait, owned by the thread
// that got it and recursive for it, a release by any other thread is ignored,
// and a holder that dies does not leave it locked.

#include <string>

namespace platform {

class NamedMutex {
public:
    static constexpr int kInfinite = -1;

    // Not open: valid() is false until open() succeeds.
    NamedMutex() = default;
    // Creates the mutex, not owned, or opens it when it exists already.
    explicit NamedMutex(const std::string &name);
    ~NamedMutex();
    NamedMutex(const NamedMutex &) = delete;
    NamedMutex &operator=(const NamedMutex &) = delete;

    // Lets go of the current mutex and creates or opens the one called name.
    // False (and valid() false) when it cannot be had; failureText() says why.
    // No other thread may use this object meanwhile.
    bool open(const std::string &name);
    void close();

    bool valid() const { return shared_ != nullptr; }
    // Waits up to timeoutMs (kInfinite: no limit), measured on the monotonic
    // clock. True when the calling thread now owns the mutex (again, if it
    // held it already).
    bool wait(int timeoutMs = kInfinite);
    // Gives up one level of ownership; no effect when the caller does not own it.
    void release();

    const std::string &name() const { return name_; }
    // Where the mutex lives, e.g. "/dev/shm/talvor-COMpBusy-ttyUSB0".
    std::string location() const;
    // For the user, naming the mutex and the reason; empty after a good open.
    const std::string &failureText() const { return failure_; }

private:
    struct Shared;
    std::string name_;
    std::string failure_;
    Shared *shared_ = nullptr;
};

// The name of a lock that belongs to one port: prefix, "-" and the port's name
// with everything but letters, digits, '.', '_' and '-' turned into '_'.
std::string PortLockName(const std::string &prefix, const std::string &portName);

}  // namespace platform
