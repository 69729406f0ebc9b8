// A settings reply on any bytes, into the settings window's controls and
// back: the block check, the record it carries, ShowSettings and
// CollectSettings, and the write block built from what was collected.

#include <QApplication>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/engine/connect_saver.h"
#include "core/engine/port_handover.h"
#include "core/line/named_mutex.h"
#include "core/protocol/settings_record.h"
#include "gui/settings_window.h"

namespace {

using namespace settings_protocol;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

class QuietMonitorView : public MonitorView {
public:
    void SetLineText(MonitorLine, const QString &) override {}
    void SetSerialCaptionLit(bool) override {}
};

std::string Name(const char *what)
{
    return std::string("fuzz-settings-") + what + "-" + std::to_string(getpid());
}

// The window with the monitor and hand-over it expects, on a closed port; its
// thread is never started.
struct Rig {
    TComPort1 port;
    TProtFrame prot{port};
    platform::NamedMutex portBusy{Name("port")};
    std::atomic<bool> portOpen{false};
    QuietMonitorView monitorView;
    ConnectSaver monitor{true, prot, port, portBusy, portOpen, monitorView};
    PortHandover handover{port, portBusy, monitor};
    platform::NamedMutex settingsBusy{Name("settings")};
    TForm6 form{handover, port, settingsBusy};
};

Rig *rig = nullptr;

SettingsRecord ThroughTheWindow(const SettingsRecord &record)
{
    rig->form.Exchange.ShownSettings = record;
    rig->form.ShowSettings();
    rig->form.CollectSettings();
    return rig->form.Exchange.EditedSettings();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    rig = new Rig;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The reply as the thread reads it: up to 12 bytes, zeros where none came.
    std::array<uint8_t, kBlockSize> reply{};
    const size_t delivered = std::min(size, kBlockSize);
    std::copy(data, data + delivered, reply.begin());
    const bool intact = SettingsBlockIntact(reply.data(), delivered);
    Require(!intact || (delivered == kBlockSize && Crc16Modbus(reply.data(), kBlockSize) == 0));

    // The same record bytes in a block of our own: intact, and no longer so
    // after any single changed bit.
    const SettingsRecord record = RecordOfBlock(reply.data());
    const uint8_t command = delivered > 0 && reply[0] == kWriteCommand ? kWriteCommand : kReadCommand;
    SettingsBlockBytes block = BuildSettingsBlock(command, record);
    Require(SettingsBlockIntact(block.data(), block.size()));
    Require(!SettingsBlockIntact(block.data(), block.size() - 1));
    Require(RecordOfBlock(block.data()) == record && block[0] == command);
    if (size > kBlockSize) {
        const size_t bit = data[kBlockSize] % (kBlockSize * 8);
        block[bit / 8] ^= uint8_t(1u << (bit % 8));
        Require(!SettingsBlockIntact(block.data(), block.size()));
    }

    // Into the controls and back: what comes out is a record the window
    // shows unchanged, and it travels in a block that checks.
    const SettingsRecord collected = ThroughTheWindow(record);
    Require(ThroughTheWindow(collected) == collected);
    const SettingsBlockBytes write = BuildSettingsBlock(kWriteCommand, collected);
    Require(SettingsBlockIntact(write.data(), write.size()));
    return 0;
}
