#pragma once
// What the main window tells the user when a port does not open, and what it
// asks before opening a port that another program holds.

#include <QCoreApplication>
#include <QString>
#include <vector>

#include "core/line/device_holders.h"
#include "gui/message_box.h"
#include "core/line/serial_device.h"

inline QString PortBusyText() { return QCoreApplication::translate("PortOpenText", "The COM port is busy!"); }

// The box text for a failed open: "The COM port is busy!" first (users and
// their documents know it), then the cause and what to do, then the system's
// own words. userName goes into the command that grants access to the device.
QString PortOpenFailureText(const QString &portName, const QString &devicePath,
                            const platform::OpenFailure &failure,
                            const std::vector<platform::DeviceHolder> &holders, const QString &userName);

// The "Warning" question before opening a port that others hold: OK opens anyway.
platform::MessageBoxRequest HeldPortQuestion(const QString &portName,
                                             const std::vector<platform::DeviceHolder> &holders);

// The login name of the user running the tool.
QString CurrentUserName();
