// SPDX-License-Identifier: MIT
#include "shell/MessageBoxes.h"

namespace vexlo {

namespace {
MessageHook& hook()
{
    static MessageHook value;
    return value;
}
} // namespace

QMessageBox::StandardButton showMessage(QWidget* parent, const MessageRequest& request)
{
    if (hook())
        return hook()(request);
    QMessageBox box(request.icon, request.title, request.text, request.buttons, parent);
    if (request.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(request.defaultButton);
    const int answer = box.exec();
    return QMessageBox::StandardButton(answer);
}

void setMessageHook(MessageHook h)
{
    hook() = std::move(h);
}

} // namespace vexlo
