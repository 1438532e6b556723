// SPDX-License-Identifier: MIT
#include "about/AboutBox.h"

#include "Version.h"
#include "about/ProgramIcon.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <cmath>

namespace vexlo::about {

namespace {

const QColor kTitleColour(255, 255, 128);
const QColor kVersionColour(255, 255, 255);
constexpr double kSmallestTitlePointSize = 12.0;

// The fixed dialog edge of the box, drawn by the box itself: with no title
// bar most window managers draw no frame at all.
void drawEdge(QPainter& painter, const QRect& r)
{
    const QColor light(223, 223, 223);
    const QColor white(255, 255, 255);
    const QColor shadow(128, 128, 128);
    const QColor dark(0, 0, 0);
    auto edge = [&painter](const QRect& box, const QColor& topLeft, const QColor& bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(box.topLeft(), box.topRight());
        painter.drawLine(box.topLeft(), box.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(box.bottomLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomRight());
    };
    edge(r, light, dark);
    edge(r.adjusted(1, 1, -1, -1), white, shadow);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QColor& colour)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(false);
    // See-through: the picture shows around the letters.
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

// The title's face may be missing; a wider substitute is made smaller until
// the name fits its label rather than being cut off.
QFont titleFont(const QString& text, int width)
{
    QFont font;
    font.setFamilies(titleFontFamilies());
    font.setStyleHint(QFont::Decorative);
    font.setWeight(QFont::Normal);
    font.setPointSizeF(kTitlePointSize);
    while (font.pointSizeF() > kSmallestTitlePointSize &&
           QFontMetricsF(font).horizontalAdvance(text) > width)
        font.setPointSizeF(font.pointSizeF() - 0.75);
    return font;
}

} // namespace

int twipsToPixels(int twips, double scale)
{
    return int(std::lround(double(twips) / kTwipsPerPixel * scale));
}

QRect twipsToPixels(const TwipsRect& rect, double scale)
{
    return QRect(twipsToPixels(rect.left, scale), twipsToPixels(rect.top, scale),
                 twipsToPixels(rect.width, scale), twipsToPixels(rect.height, scale));
}

QStringList titleFontFamilies()
{
    return {QStringLiteral("Chaucer"),         QStringLiteral("UnifrakturMaguntia"),
            QStringLiteral("URW Chancery L"),  QStringLiteral("Z003"),
            QStringLiteral("TeX Gyre Chorus"), QStringLiteral("C059"),
            QStringLiteral("DejaVu Serif"),    QStringLiteral("serif")};
}

AboutBox::AboutBox() : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint)
{
    loadPictures();
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString());
    setWindowIcon(programIcon());

    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->logicalDotsPerInchX() > 0)
        m_scale = screen->logicalDotsPerInchX() / 96.0;

    m_background = QPixmap(QStringLiteral(":/about/background.png"));
    setFixedSize(twipsToPixels(kClientTwips.width(), m_scale),
                 twipsToPixels(kClientTwips.height(), m_scale));

    const QString title = QStringLiteral("Vexlo32");
    const QRect titleRect = twipsToPixels(kLabel1Twips, m_scale);
    m_label1 = makeLabel(this, "Label1", title, kTitleColour);
    m_label1->setFont(titleFont(title, titleRect.width()));
    m_label1->setGeometry(titleRect);

    m_label2 = makeLabel(this, "Label2", QString::fromLatin1(kVersionText), kVersionColour);
    m_label2->setGeometry(twipsToPixels(kLabel2Twips, m_scale));

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    const QRect imageRect = twipsToPixels(kImage1Twips, m_scale);
    QPixmap picture(QStringLiteral(":/about/image1.png"));
    if (!qFuzzyCompare(m_scale, 1.0))
        picture = picture.scaled(imageRect.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_image1->setPixmap(picture);
    m_image1->setGeometry(imageRect);
    m_image1->setAttribute(Qt::WA_TranslucentBackground);

    for (QWidget* child : {static_cast<QWidget*>(m_label1), static_cast<QWidget*>(m_label2),
                           static_cast<QWidget*>(m_image1)})
        child->installEventFilter(this);

    centreOnScreen();
}

void AboutBox::centreOnScreen()
{
    // Centred on the screen, as the box has no owner to be centred on. The
    // frame (if any) is known once the window exists.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void AboutBox::showEvent(QShowEvent* event)
{
    if (!m_centredWithFrame) {
        m_centredWithFrame = true;
        centreOnScreen();
    }
    QWidget::showEvent(event);
}

AboutBox::~AboutBox() = default;

void AboutBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // The picture is drawn at its own size from the top left corner; the box
    // is smaller than the picture and shows its top left part.
    const QSizeF size = QSizeF(m_background.size()) / m_background.devicePixelRatio() * m_scale;
    if (m_background.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawPixmap(QRectF(QPointF(0, 0), size), m_background, m_background.rect());
    drawEdge(painter, rect());
}

void AboutBox::mousePressEvent(QMouseEvent* event)
{
    pressed(this, event);
}

void AboutBox::mouseReleaseEvent(QMouseEvent* event)
{
    released(this, event);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool label = widget == m_label1 || widget == m_label2;
    const bool image = widget == m_image1;
    if (!label && !image)
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (label)
            pressed(widget, static_cast<QMouseEvent*>(event));
        return true; // the small picture takes its clicks and does nothing with them
    case QEvent::MouseButtonRelease:
        if (label)
            released(widget, static_cast<QMouseEvent*>(event));
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void AboutBox::pressed(QWidget* on, QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        m_pressedOn = on;
}

void AboutBox::released(QWidget* on, QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const bool click = m_pressedOn == on && on->rect().contains(event->position().toPoint());
    m_pressedOn = nullptr;
    if (click)
        closeByClick();
}

void AboutBox::closeByClick()
{
    hide();
    emit closedByClick();
    deleteLater();
}

} // namespace vexlo::about
