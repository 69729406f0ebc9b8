#include "core/session/reader_watch.h"

#include <algorithm>
#include <chrono>

bool ReaderWatch::Polled(const device_info::DeviceInfo *answer, uint32_t key, const QString &holders,
                         ReaderSnapshot &now)
{
    bool changed = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const ReaderSnapshot before = snapshot_;
        ++snapshot_.polls;
        if (answer != nullptr) {
            ++snapshot_.answers;
            snapshot_.state = ReaderSnapshot::State::Ready;
            snapshot_.info = *answer;
            snapshot_.lastAnswer = *answer;
            snapshot_.answerKey = key;
            snapshot_.holders.clear();
        } else {
            snapshot_.state = ReaderSnapshot::State::NoAnswer;
            snapshot_.info.reset();
            snapshot_.holders = holders;
        }
        changed = before.state != snapshot_.state || before.info != snapshot_.info ||
                  before.holders != snapshot_.holders;
        now = snapshot_;
    }
    changed_.notify_all();
    return changed;
}

ReaderSnapshot ReaderWatch::Snapshot() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return snapshot_;
}

ReaderSnapshot ReaderWatch::WaitForAnswer(int timeoutMs, uint64_t afterPolls) const
{
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, std::chrono::milliseconds(std::max(0, timeoutMs)), [&] {
        return snapshot_.state == ReaderSnapshot::State::Ready && snapshot_.polls > afterPolls;
    });
    return snapshot_;
}
