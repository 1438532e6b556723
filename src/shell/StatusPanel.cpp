// SPDX-License-Identifier: MIT
#include "shell/StatusPanel.h"

#include <QMouseEvent>

namespace vexlo {

StatusPanel::StatusPanel(QWidget* parent) : QLabel(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    setTextFormat(Qt::PlainText);
    setMouseTracking(true);
    setIndent(2);
    // A long path is cut at the panel's edge; the tooltip shows it whole.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void StatusPanel::mousePressEvent(QMouseEvent* event)
{
    // The panel handles its own presses: letting them travel on to the box
    // around it would raise the box's handler a second time.
    event->accept();
    emit mouseDown(event->button(), event->modifiers(), event->globalPosition().toPoint());
}

void StatusPanel::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMove();
    QLabel::mouseMoveEvent(event);
}

} // namespace vexlo
