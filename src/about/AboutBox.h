// SPDX-License-Identifier: MIT
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

class QLabel;

namespace vexlo::about {

// The About box's layout is kept in twips (1/1440 inch) as it was drawn;
// 15 twips make one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

inline constexpr QSize kClientTwips{6795, 5580};
inline constexpr TwipsRect kLabel1Twips{180, 150, 1635, 525};
inline constexpr TwipsRect kLabel2Twips{960, 720, 495, 240};
inline constexpr TwipsRect kImage1Twips{270, 1140, 480, 480};

// Pixels for twips, at scale = logical dots per inch / 96.
int twipsToPixels(int twips, double scale);
QRect twipsToPixels(const TwipsRect& rect, double scale);

// The fonts tried for the program name, best first: the face the box was
// drawn with, then decorative and serif faces that Debian ships.
QStringList titleFontFamilies();
inline constexpr double kTitlePointSize = 21.75;

// The About box (Form2): the program's name and version over a picture. It is
// a window of its own, without an owner and without a title, centred on the
// screen. A click on the picture or on either label closes it for good; a
// click on the small picture (Image1) does nothing.
class AboutBox : public QWidget {
    Q_OBJECT

public:
    AboutBox();
    ~AboutBox() override;

    // Logical dots per inch of the screen / 96: the factor every twips
    // position is scaled by.
    double scale() const { return m_scale; }

signals:
    // A click closed the box; it deletes itself from the event loop.
    void closedByClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A click is a press and a release of the left button over the same
    // element.
    void pressed(QWidget* on, QMouseEvent* event);
    void released(QWidget* on, QMouseEvent* event);
    void closeByClick();
    void centreOnScreen();

    double m_scale = 1.0;
    QPixmap m_background;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    QLabel* m_image1 = nullptr;
    QPointer<QWidget> m_pressedOn;
    bool m_centredWithFrame = false;
};

} // namespace vexlo::about
