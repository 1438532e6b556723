// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace vexlo {

// Every message box of the program goes through here, so that tests can
// answer them without a person.
struct MessageRequest {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

using MessageHook = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

QMessageBox::StandardButton showMessage(QWidget* parent, const MessageRequest& request);
// Installs a hook that answers instead of a real box; an empty hook removes it.
void setMessageHook(MessageHook hook);

} // namespace vexlo
