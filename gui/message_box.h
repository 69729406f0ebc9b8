#pragma once
// Every message box of the tool goes through here. The product shows a
// QMessageBox; tests install a handler that records the box and answers it.

#include <QString>
#include <functional>

class QWidget;

namespace platform {

enum class BoxIcon { None, Error, Warning, Information };
enum class BoxButtons { Ok, OkCancel };

// Answers, numbered as the platform's message box results.
enum BoxResult { ResultOk = 1, ResultCancel = 2 };

struct MessageBoxRequest {
    QString caption;
    QString text;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
    QString okText;      // empty: the toolkit's own label
    QString cancelText;  // empty: the toolkit's own label
    bool cancelIsDefault = false;  // Enter answers Cancel: for a question whose OK loses work
    QWidget *owner = nullptr;
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest &)>;

// Shows the box modally and returns the answer; on the GUI thread.
int ShowMessageBox(const MessageBoxRequest &request);
// Shorthand for the tool's error boxes: caption "Error", OK only, no icon.
void ShowError(const QString &text);

// Replaces how boxes are shown (tests); an empty handler restores the real one.
void SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace platform
