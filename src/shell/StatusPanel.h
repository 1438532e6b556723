// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>

namespace vexlo {

// A sunken status panel that shows one line of text (the Path and File list
// panels) and reports mouse presses and moves to the window.
//
// The Path and File list panels show paths lower-cased, as the program always
// has; what the commands act on is the real path the shown text stands for,
// which the panel keeps with it, so that the two never part.
class StatusPanel : public QLabel {
    Q_OBJECT

public:
    explicit StatusPanel(QWidget* parent = nullptr);

    QString caption() const { return text(); }
    // A caption that stands for itself (the path of a run in progress, an
    // emptied panel).
    void setCaption(const QString& caption) { showPath(caption, caption); }
    // Shows a text for a path on disk. The text is also what assistive
    // tools read after the panel's name.
    void showPath(const QString& shown, const QString& realPath)
    {
        m_path = realPath;
        setText(shown);
        setAccessibleDescription(shown);
    }
    // The path the caption stands for.
    QString path() const { return m_path; }

signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);
    void mouseMove();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QString m_path;
};

} // namespace vexlo
