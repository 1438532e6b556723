// SPDX-License-Identifier: MIT
#pragma once

// Recording stand-ins for the window (DizHost) and the archive pane, shared
// by the Get diz and Save diz tests.

#include "diz/DizReader.h"
#include "diz/PaneModel.h"
#include "diz/RunControl.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace vexlo::test {

class FakeHost : public diz::DizHost {
public:
    // The box as a text document keeps it: setPlainText() turns '\n' into
    // block breaks, and the raw text gives them back as U+2029.
    QString box;
    QString caption = QStringLiteral("Save &diz");
    QString dirFolder;
    int saveEnabled = -1; // -1: never set
    int focusCount = 0;
    QStringList notices;
    QStringList log; // every call, in order
    std::function<void()> onYield;
    bool readOnlyDriveNoted = false;
    const RunControl* run = nullptr; // when set, the log shows keepRunning

    QString boxText() const override
    {
        QString raw = box;
        raw.replace(u'\n', QChar::ParagraphSeparator);
        return raw;
    }
    void setBoxText(const QString& text) override
    {
        box = text;
        note(QStringLiteral("box"));
    }
    void focusBox() override
    {
        ++focusCount;
        note(QStringLiteral("focus"));
    }
    void selectInBox(int position, int length) override
    {
        note(QStringLiteral("select %1 %2").arg(position).arg(length));
    }
    void showNotice(const QString& text) override
    {
        notices.append(text);
        note(QStringLiteral("notice"));
    }
    void setSaveDizEnabled(bool enabled) override
    {
        saveEnabled = enabled ? 1 : 0;
        note(QStringLiteral("savediz %1").arg(saveEnabled));
    }
    // The caption the window's button would show.
    void setSavingDescriptions(bool saving) override
    {
        caption = saving ? QStringLiteral("&Abort") : QStringLiteral("Save &diz");
        note(QStringLiteral("saving %1").arg(int(saving)));
    }
    void setBusyPointer(bool busy) override { note(QStringLiteral("busy %1").arg(int(busy))); }
    void setProgressValue(int value) override { note(QStringLiteral("progress %1").arg(value)); }
    void yieldEvents() override
    {
        note(QStringLiteral("yield"));
        if (onYield)
            onYield();
    }
    QString currentFolder() const override { return dirFolder; }
    void noteReadOnlyDrive() override { readOnlyDriveNoted = true; }

private:
    void note(const QString& what)
    {
        log.append(run ? what + QStringLiteral(" keep=%1").arg(int(run->keepRunning)) : what);
    }
};

// A pane over a fixed list of names.
class FakePane : public PaneModel {
public:
    QString folder;
    QStringList names;
    std::vector<bool> selected;

    FakePane(const QString& folderText, const QStringList& entryNames)
        : folder(folderText), names(entryNames), selected(size_t(entryNames.size()), false)
    {
    }
    QString folderPath() const override { return folder; }
    bool setFolderPath(const QString& text) override
    {
        folder = text;
        return true;
    }
    void setFolderEntries(const QString& text, const QStringList& entryNames) override
    {
        folder = text;
        names = entryNames;
        selected.assign(size_t(names.size()), false);
    }
    bool refresh() override { return true; }
    int count() const override { return int(names.size()); }
    QString name(int index) const override { return names.value(index); }
    bool isSelected(int index) const override { return selected.at(size_t(index)); }
    void setSelected(int index, bool on) override { selected.at(size_t(index)) = on; }

    void select(std::initializer_list<int> indexes)
    {
        for (int i : indexes)
            selected.at(size_t(i)) = true;
    }
    QList<int> selection() const
    {
        QList<int> out;
        for (size_t i = 0; i < selected.size(); ++i) {
            if (selected[i])
                out.append(int(i));
        }
        return out;
    }
};

} // namespace vexlo::test
