#include "gui/engine_boxes.h"

#include <QCoreApplication>
#include <QDir>

#include "core/engine/engine_notices.h"
#include "core/engine/update_procedure.h"
#include "gui/message_box.h"

namespace {

class EngineBoxes : public EngineNotices {
public:
    void OutputQueueFull() override
    {
        platform::MessageBoxRequest box;
        box.text = QString::fromUtf8("Невозможно поместить в выходной буфер ");
        box.icon = platform::BoxIcon::None;
        box.buttons = platform::BoxButtons::Ok;
        platform::ShowMessageBox(box);
    }

    void PortNotOpen() override { platform::ShowError(QCoreApplication::translate("TProtFrame", "You have not opened the port!")); }

    void ImageNotOpened(const QString &fileName, const QString &reason) override
    {
        // The file named, and the system's reason beneath.
        const QString detail = fileName.isEmpty()
                                   ? QCoreApplication::translate("TProt", "No file name was given.")
                                   : QDir::toNativeSeparators(fileName) + QLatin1Char('\n') + reason;
        platform::ShowError(update_text::CouldNotOpen() + QLatin1Char('\n') + detail);
    }
};

}  // namespace

void ShowEngineNoticesAsBoxes()
{
    static EngineBoxes boxes;
    engine::SetNotices(&boxes);
}
