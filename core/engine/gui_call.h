#pragma once
// Synchronous calls onto the GUI thread, and waits on the GUI thread that keep
// serving such calls so that a worker waiting for the GUI never deadlocks it.

#include <functional>

namespace platform {

class NamedMutex;

bool OnGuiThread();
// Runs fn on the GUI thread and returns when it has run. Called on the GUI
// thread it runs fn at once.
void RunOnGuiThread(const std::function<void()> &fn);
// On the GUI thread: waits until done() is true or timeoutMs passed (negative:
// no limit), meanwhile serving other threads' calls but no user input.
// Returns done(). On another thread it simply polls.
bool WaitServingGui(const std::function<bool()> &done, int timeoutMs);
// Every wait of a handler for a named lock: at most timeoutMs (a negative
// limit counts as 0), serving other threads' calls meanwhile, since the holder
// may be a worker waiting for the window. True when this thread now owns lock;
// false at once when lock could not be created.
bool WaitForLockServingGui(NamedMutex &lock, int timeoutMs);

}  // namespace platform
