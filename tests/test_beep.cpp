// The beep goes to the observer, with its pitch and length, while one is set.

#include <gtest/gtest.h>
#include <utility>
#include <vector>

#include "gui/beep.h"

namespace {

using Calls = std::vector<std::pair<int, int>>;

TEST(Beep, ObserverGetsPitchAndLength)
{
    Calls calls;
    platform::SetBeepObserverForTests([&calls](int hz, int ms) { calls.emplace_back(hz, ms); });
    platform::Beep(1000, 200);
    platform::Beep(440, 50);
    platform::SetBeepObserverForTests({});
    EXPECT_EQ(calls, (Calls{{1000, 200}, {440, 50}}));
}

TEST(Beep, ClearedObserverHearsNothingMore)
{
    Calls first;
    Calls second;
    platform::SetBeepObserverForTests([&first](int hz, int ms) { first.emplace_back(hz, ms); });
    platform::Beep(1000, 200);
    platform::SetBeepObserverForTests([&second](int hz, int ms) { second.emplace_back(hz, ms); });
    platform::Beep(2000, 10);
    platform::SetBeepObserverForTests({});
    // The real beep again; in a test run this is at most the desktop bell.
    platform::Beep(1000, 1);
    EXPECT_EQ(first, (Calls{{1000, 200}}));
    EXPECT_EQ(second, (Calls{{2000, 10}}));
}

}  // namespace
