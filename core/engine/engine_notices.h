#pragma once
// What the engine has to tell the user at the moment it happens. The window
// side shows each notice as a message box and returns once it is answered, so
// the engine goes on only after the user has seen it, from whatever thread.

#include <QString>

class EngineNotices {
public:
    virtual ~EngineNotices() = default;
    // A write would reach the driver's output queue size; it is written all the same.
    virtual void OutputQueueFull() = 0;
    // A request while the port is not open; nothing was sent.
    virtual void PortNotOpen() = 0;
    // An image file that did not open: the name as given (empty when none
    // was) and the system's reason.
    virtual void ImageNotOpened(const QString &fileName, const QString &reason) = 0;
};

namespace engine {

// Who hears the notices; nobody until the window side sets itself (nullptr
// goes back to nobody).
void SetNotices(EngineNotices *notices);
EngineNotices &Notices();

}  // namespace engine
