#pragma once

#include <QLabel>

namespace vexlo {

// A sunken status panel that shows one line of text (the Path and File list
// panels) and reports mouse presses and moves to the window.
class StatusPanel : public QLabel {
    Q_OBJECT

public:
    explicit StatusPanel(QWidget* parent = nullptr);

    QString caption() const { return text(); }
    // The caption is also what assistive tools read after the panel's name.
    void setCaption(const QString& caption)
    {
        setText(caption);
        setAccessibleDescription(caption);
    }

signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint globalPos);
    void mouseMove();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

} // namespace vexlo
