#include "core/engine/queued_views.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include "core/engine/gui_call.h"

namespace platform {

namespace {

QEvent::Type WakeUpEvent()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

// Gets the wake-up on the GUI thread. The event carries nothing that the
// worker wrote: what it made reaches the GUI thread under the queue's lock.
class WakeUpReceiver : public QObject {
public:
    explicit WakeUpReceiver(QueuedGuiCalls &calls) : calls_(calls) {}
    bool event(QEvent *event) override
    {
        if (event->type() != WakeUpEvent())
            return QObject::event(event);
        calls_.RunPending();
        return true;
    }

private:
    QueuedGuiCalls &calls_;
};

}  // namespace

QueuedGuiCalls::QueuedGuiCalls() : receiver_(std::make_unique<WakeUpReceiver>(*this)) {}

// Deleting the receiver drops a wake-up still in Qt's queue.
QueuedGuiCalls::~QueuedGuiCalls() = default;

void QueuedGuiCalls::Post(std::function<void()> call)
{
    if (OnGuiThread()) {
        RunPending();
        call();
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::move(call));
    if (wakeUpPosted_)
        return;  // the GUI thread has not yet run the calls before this one
    wakeUpPosted_ = true;
    QCoreApplication::postEvent(receiver_.get(), new QEvent(WakeUpEvent()));
}

void QueuedGuiCalls::RunPending()
{
    std::unique_lock<std::mutex> guard(lock_);
    wakeUpPosted_ = false;
    while (!calls_.empty()) {
        std::function<void()> call = std::move(calls_.front());
        calls_.pop_front();
        guard.unlock();
        call();
        guard.lock();
    }
}

}  // namespace platform

void QueuedMonitorView::SetLineText(MonitorLine line, const QString &text)
{
    calls_.Post([this, line, text] { window_.SetLineText(line, text); });
}

void QueuedMonitorView::SetSerialCaptionLit(bool lit)
{
    calls_.Post([this, lit] { window_.SetSerialCaptionLit(lit); });
}

void QueuedUpdateView::SetLoadCaption(const QString &text)
{
    calls_.Post([this, text] { window_.SetLoadCaption(text); });
}

void QueuedUpdateView::SetStopEnabled(bool enabled)
{
    calls_.Post([this, enabled] { window_.SetStopEnabled(enabled); });
}

void QueuedUpdateView::SetStatusLine(const QString &text)
{
    calls_.Post([this, text] { window_.SetStatusLine(text); });
}

void QueuedUpdateView::SetPercentage(const QString &text)
{
    calls_.Post([this, text] { window_.SetPercentage(text); });
}

void QueuedUpdateView::SetProgressMaximum(int maximum)
{
    calls_.Post([this, maximum] { window_.SetProgressMaximum(maximum); });
}

void QueuedUpdateView::SetProgressPosition(int position)
{
    calls_.Post([this, position] { window_.SetProgressPosition(position); });
}

void QueuedUpdateView::SetLamp(Lamp lamp)
{
    calls_.Post([this, lamp] { window_.SetLamp(lamp); });
}

void QueuedUpdateView::SetLampBlinking(bool on)
{
    calls_.Post([this, on] { window_.SetLampBlinking(on); });
}

void QueuedUpdateView::SetErrorIconEnabled(bool enabled)
{
    calls_.Post([this, enabled] { window_.SetErrorIconEnabled(enabled); });
}

void QueuedUpdateView::ClearErrorLines()
{
    calls_.Post([this] { window_.ClearErrorLines(); });
}

void QueuedUpdateView::AddErrorLine(const QString &line)
{
    calls_.Post([this, line] { window_.AddErrorLine(line); });
}

void QueuedUpdateView::ClearDescription()
{
    calls_.Post([this] { window_.ClearDescription(); });
}

void QueuedUpdateView::AddDescriptionLine(const QString &line)
{
    calls_.Post([this, line] { window_.AddDescriptionLine(line); });
}

void QueuedUpdateView::ShowFileName(const QString &path)
{
    calls_.Post([this, path] { window_.ShowFileName(path); });
}

void QueuedUpdateView::Beep()
{
    calls_.Post([this] { window_.Beep(); });
}
