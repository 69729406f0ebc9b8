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

    // Creates the mutex, not owned, or opens it when it exists already.
    explicit NamedMutex(const std::string &name);
    ~NamedMutex();
    NamedMutex(const NamedMutex &) = delete;
    NamedMutex &operator=(const NamedMutex &) = delete;

    bool valid() const { return shared_ != nullptr; }
    // Waits up to timeoutMs (kInfinite: no limit). True when the calling thread
    // now owns the mutex (again, if it held it already).
    bool wait(int timeoutMs = kInfinite);
    // Gives up one level of ownership; no effect when the caller does not own it.
    void release();

    const std::string &name() const { return name_; }

private:
    struct Shared;
    std::string name_;
    Shared *shared_ = nullptr;
};

}  // namespace platform
