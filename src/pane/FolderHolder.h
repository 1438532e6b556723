// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

namespace vexlo {

// The hidden folder holder: it keeps a folder path exactly as it is given
// (letter case included) for the commands that read it back.
class FolderHolder : public QWidget {
    Q_OBJECT

public:
    explicit FolderHolder(QWidget* parent = nullptr) : QWidget(parent) { hide(); }

    QString path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }

private:
    QString m_path;
};

} // namespace vexlo
