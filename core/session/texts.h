#pragma once
// The session's words for what it reports, in the language of the user: the
// monitor's lines and the update's stage texts and error lines, shared by the
// window and the command line.

#include <QCoreApplication>
#include <QString>

namespace monitor_text {
// What the reader sends is shown as sent; these are the words around it.
inline QString PortClosed() { return QCoreApplication::translate("Monitor", "COM-port is closed"); }
inline QString NoAnswer() { return QCoreApplication::translate("Monitor", "Device no answer"); }
inline QString Ready() { return QCoreApplication::translate("Monitor", "Device is ready"); }
inline QString VersionPrefix() { return QCoreApplication::translate("Monitor", "vesion  "); }
inline QString Unknown() { return QCoreApplication::translate("Monitor", "unknown"); }
inline QString OldLoader()
{
    return QCoreApplication::translate("Monitor",
                                       "With a bootloader version lower than 8.2, accurate information about the "
                                       "device firmware version is not available");
}
inline QString OldFirmware()
{
    return QCoreApplication::translate("Monitor",
                                       "Firmware versions prior to 5.3 do not contain the necessary information");
}
}  // namespace monitor_text

namespace update_text {
// The update's texts, in the language of the user: the window's stage
// captions and status lines, and the error lines every client shows.
inline QString CouldNotOpen() { return QCoreApplication::translate("FirmwareUpdate", "Could not open file!"); }
inline QString NoFileName() { return QCoreApplication::translate("FirmwareUpdate", "No file name was given."); }
inline QString LoadProgram() { return QCoreApplication::translate("FirmwareUpdate", "Load program"); }
inline QString Connect() { return QCoreApplication::translate("FirmwareUpdate", "Connect the device..."); }
// The boot requests left before the update gives up.
inline QString Waiting(int attemptsLeft)
{
    return QCoreApplication::translate("FirmwareUpdate", "Waiting for connection (%1)").arg(attemptsLeft);
}
inline QString Updating()
{
    return QCoreApplication::translate("FirmwareUpdate", "Process of updating the program...");
}
inline QString StartFirmware() { return QCoreApplication::translate("FirmwareUpdate", "Start the firmware..."); }
inline QString Transfer() { return QCoreApplication::translate("FirmwareUpdate", "Process of firmware update..."); }
inline QString Completed()
{
    return QCoreApplication::translate("FirmwareUpdate", "Firmware update completed successfully!");
}
inline QString NoResponse()
{
    return QCoreApplication::translate("FirmwareUpdate", "There is no response from the device!");
}
inline QString ChecksumReceiving() { return QCoreApplication::translate("FirmwareUpdate", "Checksum error receiving!"); }
inline QString WrongModel() { return QCoreApplication::translate("FirmwareUpdate", "Did not match the model!"); }
inline QString DeviceNumber()
{
    return QCoreApplication::translate("FirmwareUpdate", "The device number outside the allowed range!");
}
inline QString ProgramSize()
{
    return QCoreApplication::translate("FirmwareUpdate", "You have exceeded the maximum program size!");
}
inline QString BlockNumber() { return QCoreApplication::translate("FirmwareUpdate", "An incorrect block number!"); }
inline QString ChecksumTransmission()
{
    return QCoreApplication::translate("FirmwareUpdate", "Checksum error transmission!");
}
// The port's device went away during the update: a converter unplugged.
inline QString PortVanished()
{
    return QCoreApplication::translate("FirmwareUpdate",
                                       "The port vanished: the reader or its converter was unplugged!");
}
// The connection to a network port dropped during the update.
inline QString ConnectionDropped()
{
    return QCoreApplication::translate("FirmwareUpdate",
                                       "The connection dropped: the far port or the network went away!");
}
}  // namespace update_text
