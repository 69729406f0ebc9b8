#pragma once
// What the firmware update tests share: a simulated reader with its device
// information and boot loader on a pseudo-terminal, and an image file.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "firmware_images.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"

namespace update_rig {

// Replies come at once from the simulator; a quarter of the real read
// windows keeps the suite quick and still far above its answer time.
constexpr double kFastLine = 0.25;

// A pseudo-terminal reader with the device information and the boot loader.
struct Reader {
    QTemporaryDir folder;
    std::unique_ptr<sim::SimulatedReader> line;
    std::shared_ptr<sim::BootLoader> boot = std::make_shared<sim::BootLoader>();

    explicit Reader(const std::string &name)
    {
        sim::Options options;
        options.folder = folder.path().toStdString();
        options.linkName = name;
        line = std::make_unique<sim::SimulatedReader>(options);
        line->AddResponder(std::make_shared<sim::DeviceInfo>());
        line->AddResponder(boot);
        boot->AttachLine(line.get());
    }
    bool Start()
    {
        const bool ok = line->Start();
        EXPECT_TRUE(ok) << line->ErrorText();
        return ok;
    }
    void Set(sim::BootLoaderOptions options) { boot->SetOptions(std::move(options)); }
};

// An image of sectionSize bytes (body, description and trailer) in dir.
struct ImageFile {
    QString path;
    QByteArray bytes;
    int32_t sectionSize = 0;

    ImageFile(const QTemporaryDir &dir, int sectionSize, const QByteArray &description = "TALVOR 7.1 test")
    {
        const int body = std::max(0, sectionSize - int(description.size()) - 8);
        bytes = test_images::Image(test_images::SectionBytes(body), description);
        this->sectionSize = int32_t(bytes.size());
        path = dir.filePath(QStringLiteral("image-%1.rom").arg(sectionSize));
        EXPECT_TRUE(test_images::Write(path, bytes));
    }
    // What the boot loader should hold after the blocks asked for.
    std::vector<uint8_t> Section(size_t size) const
    {
        return test_images::Expected(bytes, sectionSize, 0, int64_t(size));
    }
};

}  // namespace update_rig
