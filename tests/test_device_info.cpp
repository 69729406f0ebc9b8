// The device information answer decoded without the port: versions, the
// reason a firmware version is unknown, and which loaders report a serial number.

#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "core/protocol/device_info.h"

namespace {

using device_info::FirmwareUnknown;
using device_info::Version;

struct AnswerCase {
    const char *name;
    uint8_t major, minor, loader, serialLow, serialHigh;
    Version loaderVersion;
    std::optional<Version> firmware;
    FirmwareUnknown unknownBecause;
    std::optional<uint16_t> serialNumber;
};

// The unstuffed reply: start byte, header, 0x00, then the fields at 8 to 12.
std::array<uint8_t, 14> Reply(const AnswerCase &c)
{
    return {0xDA, 0x11, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x00,
            c.major, c.minor, c.loader, c.serialLow, c.serialHigh, 0xD5};
}

class DeviceInfoDecode : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(DeviceInfoDecode, Table)
{
    const AnswerCase &c = GetParam();
    const auto reply = Reply(c);
    const device_info::DeviceInfo info = device_info::Decode(reply.data());
    EXPECT_EQ(info.loader, c.loaderVersion);
    EXPECT_EQ(info.firmware, c.firmware);
    EXPECT_EQ(info.unknownBecause, c.unknownBecause);
    EXPECT_EQ(info.serialNumber, c.serialNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DeviceInfoDecode,
    ::testing::Values(
        // Below 8.2 nothing past the loader byte counts, not even a firmware version.
        AnswerCase{"loader_8_1", 6, 4, 0x81, 0x34, 0x12, {8, 1}, std::nullopt, FirmwareUnknown::OldLoader,
                   std::nullopt},
        AnswerCase{"loader_8_2_no_serial", 6, 4, 0x82, 0x34, 0x12, {8, 2}, Version{6, 4}, FirmwareUnknown::None,
                   std::nullopt},
        AnswerCase{"loader_8_3_serial_low_byte_first", 6, 4, 0x83, 0x34, 0x12, {8, 3}, Version{6, 4},
                   FirmwareUnknown::None, uint16_t(0x1234)},
        AnswerCase{"old_firmware_keeps_serial", 0, 9, 0x9C, 0xFF, 0xFF, {9, 12}, std::nullopt,
                   FirmwareUnknown::OldFirmware, uint16_t(0xFFFF)},
        AnswerCase{"old_firmware_loader_8_2", 0, 0, 0x82, 0, 0, {8, 2}, std::nullopt, FirmwareUnknown::OldFirmware,
                   std::nullopt},
        AnswerCase{"escape_values_as_fields", 0xDA, 0xD5, 0xDF, 0xDA, 0xD5, {13, 15}, Version{0xDA, 0xD5},
                   FirmwareUnknown::None, uint16_t(0xD5DA)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DeviceInfoAnswerKey, CoversBytesSevenToTenOnly)
{
    const auto reply = Reply({"", 6, 4, 0x83, 0x34, 0x12, {}, {}, {}, {}});
    auto other = reply;
    EXPECT_EQ(device_info::AnswerKey(reply.data()), 0x83040600u);
    other[11] = 0x99;  // the serial number is not part of the key
    other[6] = 0x99;
    EXPECT_EQ(device_info::AnswerKey(other.data()), device_info::AnswerKey(reply.data()));
    for (int at : {7, 8, 9, 10}) {
        other = reply;
        other[at] ^= 0x01;
        EXPECT_NE(device_info::AnswerKey(other.data()), device_info::AnswerKey(reply.data())) << "byte " << at;
    }
}

}  // namespace
