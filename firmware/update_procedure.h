#pragma once
// TProt: the frame layer plus the firmware update engine that leads the
// reader's boot loader through an update from an image file.

#include <QString>
#include <atomic>
#include <cstdint>

#include "firmware/update_view.h"
#include "link/frame_codec.h"

class TProt : public TProtFrame {
public:
    explicit TProt(TComPort1 &port);
    ~TProt() override;

    void SetView(UpdateView *view) { view_ = view; }

    // Opens the image and shows its description, name and block count.
    int OpenImage(const QString &fileName);
    // Runs a whole update on the calling (GUI) thread.
    void StartUpdate(const QString &fileName);

    std::atomic<uint16_t> StopRequested{0};
    std::atomic<uint16_t> Updating{0};
    uint16_t BlockCount = 0;

private:
    UpdateView *view_ = nullptr;
};

extern TProt *Prot1;
