#include "core/engine/reader_session.h"

#include <thread>

#include "core/engine/com_port.h"
#include "core/engine/update_procedure.h"
#include "core/line/named_mutex.h"

ReaderSession::ReaderSession(TProt &prot, TComPort1 &port, platform::NamedMutex &portBusy,
                             const std::atomic<uint8_t> &portOpen, MonitorView &monitorWindow,
                             UpdateView &updateWindow)
    : prot_(prot), port_(port), portBusy_(portBusy), monitorView_(calls_, monitorWindow),
      updateView_(calls_, updateWindow)
{
    prot_.SetView(&updateView_);
    monitor_ = std::make_unique<ConnectSaver>(true, prot_, port_, portBusy_, portOpen, monitorView_,
                                              ConnectSaver::ViewCalls::OnMonitorThread);
    handover_ = std::make_unique<PortHandover>(port_, portBusy_, *monitor_);
    monitor_->Resume();
}

ReaderSession::~ReaderSession()
{
    Stop();
    prot_.SetView(nullptr);
}

void ReaderSession::QueueUpdate(const QString &fileName, std::function<void()> finished)
{
    updateBusy_ = true;
    prot_.AbortRequested = 0;
    monitor_->RunBetweenPolls([this, fileName, finished = std::move(finished)] {
        RunUpdate(fileName);
        updateBusy_ = false;
        calls_.Post(finished);
    });
}

void ReaderSession::RequestStop()
{
    prot_.StopRequested = 1;
}

void ReaderSession::RequestAbort()
{
    prot_.AbortRequested = 1;
}

void ReaderSession::Stop()
{
    if (updateBusy_)
        RequestAbort();
    monitor_->Terminate();
    monitor_->WaitFor();
}

void ReaderSession::RunUpdate(const QString &fileName)
{
    updateThread_ = std::this_thread::get_id();
    PortHandover::RunWithPortTaken(port_, portBusy_, [&] { prot_.StartUpdate(fileName); });
}
