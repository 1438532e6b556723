// SPDX-License-Identifier: MIT
#pragma once

#include "diz/DizReader.h"
#include "shell/Form1.h"

namespace vexlo {

// What Get diz and Save diz see of the main window.
class Form1::DizWindowHost : public diz::DizHost {
public:
    explicit DizWindowHost(Form1& window) : m_window(window) {}

    QString boxText() const override;
    void setBoxText(const QString& text) override;
    void focusBox() override;
    void selectInBox(int position, int length) override;
    void showNotice(const QString& text) override;
    void setSaveDizEnabled(bool enabled) override;
    void setSavingDescriptions(bool saving) override;
    void setBusyPointer(bool busy) override;
    void setProgressValue(int value) override;
    void yieldEvents() override;
    QString currentFolder() const override;
    void noteReadOnlyDrive() override;

private:
    Form1& m_window;
};

} // namespace vexlo
