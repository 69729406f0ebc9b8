#pragma once
// What the main window shows for the session's values: the monitor's lines
// for a reader's answer, the update's caption, status line and percentage
// for its progress. Pure, so the words can be checked without a window.

#include <QString>
#include <optional>
#include <vector>

#include "core/session/values.h"

// The monitor's lines on the main window.
enum class MonitorLine { Status, FirmwareVersion, LoaderVersion, Remark, SerialNumber };

// What an answer changes, in the order the window shows it.
struct MonitorChange {
    bool serialCaption = false;  // the serial number's caption is lit; line and text unused
    MonitorLine line = MonitorLine::Status;
    QString text;
};
std::vector<MonitorChange> MonitorAnswerChanges(const device_info::DeviceInfo &info);

namespace update_view {

// The "Load program" button's caption during an update.
QString Caption(const UpdateProgress &progress);
// The status line; none where the update leaves it as it was (an image
// refused when the job began).
std::optional<QString> StatusLine(const UpdateProgress &progress);
// "0%" to "100%"; none before the image was accepted.
std::optional<QString> Percentage(const UpdateProgress &progress);

}  // namespace update_view
