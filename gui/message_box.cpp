#include "gui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <mutex>

#include "gui/design_fonts.h"


namespace platform {

namespace {

std::mutex handlerLock;
MessageBoxHandler handler;

QMessageBox::Icon ToQtIcon(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Warning: return QMessageBox::Warning;
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

int ShowQtBox(const MessageBoxRequest &request)
{
    QMessageBox box(ToQtIcon(request.icon), request.caption, request.text, QMessageBox::NoButton,
                    request.owner);
    QPushButton *ok = box.addButton(QMessageBox::Ok);
    if (!request.okText.isEmpty())
        ok->setText(request.okText);
    if (request.buttons == BoxButtons::OkCancel) {
        QPushButton *cancel = box.addButton(QMessageBox::Cancel);
        if (!request.cancelText.isEmpty())
            cancel->setText(request.cancelText);
        box.setEscapeButton(cancel);
        box.setDefaultButton(request.cancelIsDefault ? cancel : ok);
    } else {
        box.setEscapeButton(ok);
        box.setDefaultButton(ok);
    }
    platform::ScaleWindowToScreen(&box);
    box.exec();
    return box.clickedButton() == ok ? ResultOk : ResultCancel;
}

}  // namespace

int ShowMessageBox(const MessageBoxRequest &request)
{
    MessageBoxHandler current;
    {
        std::lock_guard<std::mutex> guard(handlerLock);
        current = handler;
    }
    return current ? current(request) : ShowQtBox(request);
}

void ShowError(const QString &text)
{
    MessageBoxRequest request;
    request.caption = QCoreApplication::translate("MessageBox", "Error");
    request.text = text;
    ShowMessageBox(request);
}

void SetMessageBoxHandler(MessageBoxHandler newHandler)
{
    std::lock_guard<std::mutex> guard(handlerLock);
    handler = std::move(newHandler);
}

}  // namespace platform
