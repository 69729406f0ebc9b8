// The session's worker and its window calls: calls queued for the GUI thread
// never make the worker wait and arrive in the order made; jobs run on the
// monitor's thread between its cycles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/engine/com_port.h"
#include "core/engine/connect_saver.h"
#include "core/engine/frame_codec.h"
#include "core/engine/gui_call.h"
#include "core/engine/queued_views.h"
#include "core/line/named_mutex.h"

namespace {

constexpr int kHangMs = 5000;

class LineLog : public MonitorView {
public:
    void SetLineText(MonitorLine, const QString &text) override
    {
        texts.push_back(text);
        offGui += platform::OnGuiThread() ? 0 : 1;
    }
    void SetSerialCaptionLit(bool) override {}
    std::vector<QString> texts;
    int offGui = 0;
};

TEST(QueuedGuiCalls, WorkerGoesOnAtOnceAndTheWindowGetsEveryCallInOrder)
{
    platform::QueuedGuiCalls calls;
    LineLog window;
    QueuedMonitorView view(calls, window);

    // The GUI thread serves nothing until the worker has made all its calls:
    // a worker that waited for the window would never finish.
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            view.SetLineText(MonitorLine::Status, QString::number(i));
        posted = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangMs);
    while (!posted && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(posted) << "the worker waited for the window";
    worker.join();
    EXPECT_TRUE(window.texts.empty());

    // A call made on the GUI thread comes after those already queued.
    view.SetLineText(MonitorLine::Status, QStringLiteral("gui"));
    ASSERT_EQ(window.texts.size(), 51u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(window.texts[size_t(i)], QString::number(i));
    EXPECT_EQ(window.texts.back(), "gui");
    EXPECT_EQ(window.offGui, 0);
}

TEST(QueuedGuiCalls, CallsReachTheWindowThroughTheEventLoop)
{
    platform::QueuedGuiCalls calls;
    LineLog window;
    QueuedMonitorView view(calls, window);
    std::thread worker([&] { view.SetLineText(MonitorLine::Remark, QStringLiteral("from the worker")); });
    worker.join();
    EXPECT_TRUE(platform::WaitServingGui([&] { return !window.texts.empty(); }, kHangMs));
    EXPECT_EQ(window.texts, std::vector<QString>{QStringLiteral("from the worker")});
}

TEST(MonitorJobs, RunOnTheMonitorThreadInTheOrderQueued)
{
    TComPort1 port;
    TProtFrame prot{port};
    std::atomic<bool> portOpen{false};  // closed: the monitor waits 500 ms a cycle
    platform::NamedMutex portBusy{"talvor-session-test-" + std::to_string(getpid())};
    LineLog window;
    ConnectSaver monitor(false, prot, port, portBusy, portOpen, window);

    std::atomic<int> done{0};
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 3; ++i)
        monitor.RunBetweenPolls([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            ++done;
        });
    ASSERT_TRUE(platform::WaitServingGui([&] { return done == 3; }, kHangMs));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    for (const std::thread::id id : threads) {
        EXPECT_EQ(id, monitor.ThreadId());
        EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_EQ(monitor.PollCount(), 0u);
}

}  // namespace
