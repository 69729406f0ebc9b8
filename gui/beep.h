#pragma once
// The loudspeaker beep that closes a successful update.

#include <functional>

namespace platform {

// Sounds a tone of hz for ms: the console speaker where this process may drive
// it, otherwise the desktop's bell (which has no pitch or length of its own).
void Beep(int hz, int ms);

// While set, the observer gets every Beep instead of any sound; an empty
// function restores the real beep.
void SetBeepObserverForTests(std::function<void(int hz, int ms)> observer);

}  // namespace platform
