// `ports`: the serial ports the tool would list; `info`: what the reader on
// one of them says about itself, as the monitor hears it.

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include "cli/cli_common.h"
#include "cli/cli_texts.h"
#include "cli/commands.h"
#include "core/session/texts.h"
#include "core/line/device_holders.h"
#include "core/line/port_directory.h"

namespace cli {

int RunPorts(const QStringList &arguments)
{
    CommandParser command(QStringLiteral("ports"), QStringLiteral("[--json]"),
                          CliReader::tr("Every serial port the tool would list, system and virtual: name, "
                                        "device, USB\nconverter ids, and the other programs that hold it."));
    const QCommandLineOption json(QStringLiteral("json"), CliReader::tr("One JSON array on standard output."));
    command.Parser().addOption(json);
    if (const auto status = command.Parse(arguments, 0, 0))
        return *status;
    const Setting setting = command.TakeSetting();

    const platform::PortDirectory directory(setting.portFolder);
    const std::vector<platform::PortEntry> ports = directory.Enumerate().value_or(std::vector<platform::PortEntry>{});
    const QHash<QString, platform::UsbConverter> converters = platform::UsbConverters();

    QJsonArray list;
    for (const platform::PortEntry &port : ports) {
        const platform::UsbConverter usb = converters.value(port.portName);
        const auto holders = platform::OtherDeviceHolders(port.devicePath.toStdString());
        if (command.Parser().isSet(json)) {
            QJsonObject entry{{QStringLiteral("name"), port.portName}, {QStringLiteral("device"), port.devicePath}};
            if (!usb.vendorId.isEmpty()) {
                entry.insert(QStringLiteral("vendor_id"), usb.vendorId);
                entry.insert(QStringLiteral("product_id"), usb.productId);
                entry.insert(QStringLiteral("description"), usb.description);
                entry.insert(QStringLiteral("converter_serial"), usb.serialNumber);
            }
            QJsonArray holderList;
            for (const platform::DeviceHolder &holder : holders)
                holderList.append(QJsonObject{{QStringLiteral("pid"), int(holder.pid)},
                                              {QStringLiteral("name"), QString::fromStdString(holder.name)}});
            entry.insert(QStringLiteral("held_by"), holderList);
            list.append(entry);
            continue;
        }
        QString line = QStringLiteral("%1  %2").arg(port.portName, -15).arg(port.devicePath);
        if (!usb.vendorId.isEmpty())
            line += QStringLiteral("  %1:%2 %3").arg(usb.vendorId, usb.productId, usb.description);
        if (!usb.serialNumber.isEmpty())
            line += CliReader::tr(" (serial number %1)").arg(usb.serialNumber);
        if (!holders.empty())
            line += CliReader::tr("  held: ") + platform::HolderSentence(port.portName, holders);
        PrintLine(line);
    }
    if (command.Parser().isSet(json))
        PrintLine(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
    return kOk;
}

int RunInfo(const QStringList &arguments)
{
    CommandParser command(QStringLiteral("info"), QStringLiteral("-p PORT [--wait SECONDS] [--json]"),
                          CliReader::tr("Asks the reader on PORT as the window's monitor does: its state, "
                                        "boot loader\nand firmware versions and serial number."));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  CliReader::tr("Port name or device path."), QStringLiteral("port"));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  CliReader::tr("Wait this long for an answer (default 3)."),
                                  QStringLiteral("seconds"), QStringLiteral("3"));
    const QCommandLineOption json(QStringLiteral("json"), CliReader::tr("One JSON object on standard output."));
    command.Parser().addOptions({port, wait, json});
    if (const auto status = command.Parse(arguments, 0, 0))
        return *status;
    bool waitOk = false;
    const double waitSeconds = command.Parser().value(wait).toDouble(&waitOk);
    if (!command.Parser().isSet(port) || command.Parser().values(port).size() != 1 || !waitOk || waitSeconds < 0 ||
        waitSeconds > 3600) {
        PrintError(CliReader::tr("talvor-cli info: give one -p PORT and --wait from 0 to 3600 seconds."));
        return kBadArguments;
    }
    const Setting setting = command.TakeSetting();
    const PortChoice choice = ResolvePort(command.Parser().value(port), setting.portFolder);

    OpenedSession opened = OpenSession(choice, setting);
    if (!opened.session) {
        PrintError(opened.failure);
        return kPortNotOpened;
    }
    const ReaderSnapshot reader = opened.session->WaitForReader(int(waitSeconds * 1000));
    opened.session.reset();

    const bool answered = reader.state == ReaderSnapshot::State::Ready && reader.info;
    QString state = QStringLiteral("no_answer");
    QString remark;
    if (answered) {
        state = QStringLiteral("ready");
        if (reader.info->unknownBecause == device_info::FirmwareUnknown::OldLoader) {
            state = QStringLiteral("old_boot_loader");
            remark = monitor_text::OldLoader();
        } else if (reader.info->unknownBecause == device_info::FirmwareUnknown::OldFirmware) {
            state = QStringLiteral("old_firmware");
            remark = monitor_text::OldFirmware();
        }
    }

    if (command.Parser().isSet(json)) {
        QJsonObject object{{QStringLiteral("port"), choice.name}, {QStringLiteral("state"), state}};
        if (answered) {
            object.insert(QStringLiteral("loader"), VersionText(reader.info->loader));
            object.insert(QStringLiteral("firmware"), FirmwareText(reader));
            if (reader.info->serialNumber)
                object.insert(QStringLiteral("serial_number"), int(*reader.info->serialNumber));
            if (!remark.isEmpty())
                object.insert(QStringLiteral("remark"), remark);
        } else if (!reader.holders.isEmpty()) {
            object.insert(QStringLiteral("remark"), reader.holders);
        }
        PrintJsonLine(object);
    } else if (answered) {
        PrintLine(QStringLiteral("%1: %2").arg(choice.name, monitor_text::Ready()));
        PrintLine(CliReader::tr("boot loader    %1").arg(VersionText(reader.info->loader)));
        const QString firmware = FirmwareText(reader);
        PrintLine(CliReader::tr("firmware       %1").arg(firmware.isEmpty() ? monitor_text::Unknown() : firmware));
        const QString serial = SerialText(reader);
        PrintLine(CliReader::tr("serial number  %1").arg(serial.isEmpty() ? QStringLiteral("-") : serial));
        if (!remark.isEmpty())
            PrintLine(remark);
    } else {
        PrintLine(QStringLiteral("%1: %2").arg(choice.name, monitor_text::NoAnswer()));
        if (!reader.holders.isEmpty())
            PrintLine(reader.holders);
    }
    return answered ? kOk : kNoAnswer;
}

}  // namespace cli
