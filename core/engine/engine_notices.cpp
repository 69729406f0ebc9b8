#include "core/engine/engine_notices.h"

#include <atomic>

namespace engine {

namespace {

class NoNotices : public EngineNotices {
public:
    void OutputQueueFull() override {}
    void PortNotOpen() override {}
    void ImageNotOpened(const QString &, const QString &) override {}
};

std::atomic<EngineNotices *> listener{nullptr};

}  // namespace

void SetNotices(EngineNotices *notices)
{
    listener = notices;
}

EngineNotices &Notices()
{
    static NoNotices nobody;
    EngineNotices *current = listener.load();
    return current ? *current : nobody;
}

}  // namespace engine
