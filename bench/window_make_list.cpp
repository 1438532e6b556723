// SPDX-License-Identifier: MIT
// "&Make list" in the window, timed: creates the main window (shown, on
// whatever platform Qt is given; the bench uses offscreen), points the Path
// and File list panels at a tree and a list file, and presses the button.
// While the run goes on a 5 ms timer notes how late the event loop serves
// it (what a click on "&Abort" would wait), and the window's repaints are
// counted.
//
//   vexlo32_bench_window FOLDER LISTFILE [--long] [--multi-line] [--abort-after MS]
//
// Prints one line: seconds, repaints, repaints per second, the longest and
// the 99th-percentile wait of the timer in ms, and with --abort-after the
// time from the abort press being due to its handling and to the end of the
// run.

#include "pane/ArchivePane.h"
#include "platform/FileSystem.h"
#include "shell/Form1.h"
#include "shell/StatusPanel.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class PaintCounter : public QObject {
public:
    long paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::UpdateRequest && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    vexlo::platform::settleLocalTimeZone(); // as the program does
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr,
                     "usage: %s FOLDER LISTFILE [--long] [--multi-line] [--abort-after MS]\n",
                     argv[0]);
        return 2;
    }
    const bool longFormat = args.contains(QStringLiteral("--long"));
    const bool multiLine = args.contains(QStringLiteral("--multi-line"));
    int abortAfter = -1;
    const qsizetype at = args.indexOf(QStringLiteral("--abort-after"));
    if (at > 0 && at + 1 < args.size())
        abortAfter = args.at(at + 1).toInt();

    vexlo::Form1 window;
    window.show();
    window.findChild<vexlo::StatusPanel*>(QStringLiteral("SSPanel2"))->setCaption(args.at(1));
    window.findChild<vexlo::StatusPanel*>(QStringLiteral("SSPanel1"))->setCaption(args.at(2));
    window.findChild<QAction*>(QStringLiteral("longfile"))->setChecked(longFormat);
    window.findChild<QAction*>(QStringLiteral("multi"))->setChecked(multiLine);
    window.state().list.multiLineDiz = multiLine;
    QPushButton* makeList = window.findChild<QPushButton*>(QStringLiteral("Command4"));
    QCoreApplication::processEvents();

    PaintCounter counter;
    app.installEventFilter(&counter);

    QElapsedTimer clock;
    std::vector<qint64> waits;
    qint64 lastTick = -1;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0)
            waits.push_back(std::max<qint64>(0, now - lastTick - 5000000));
        lastTick = now;
    });

    qint64 abortHandled = -1;
    if (abortAfter >= 0) {
        QTimer::singleShot(abortAfter, Qt::PreciseTimer, &window, [&] {
            abortHandled = clock.nsecsElapsed();
            makeList->click();
        });
    }

    clock.start();
    ticker.start();
    makeList->click();
    const qint64 total = clock.nsecsElapsed();
    ticker.stop();
    app.removeEventFilter(&counter);

    std::sort(waits.begin(), waits.end());
    const double maxWait = waits.empty() ? 0.0 : waits.back() / 1e6;
    const double p99 = waits.empty() ? 0.0 : waits[size_t(double(waits.size() - 1) * 0.99)] / 1e6;
    const double seconds = total / 1e9;
    std::printf("seconds %.3f repaints %ld per_second %.1f max_wait_ms %.1f p99_wait_ms %.1f",
                seconds, counter.paints, seconds > 0 ? counter.paints / seconds : 0.0, maxWait,
                p99);
    if (abortAfter >= 0) {
        std::printf(" abort_wait_ms %.1f abort_to_end_ms %.1f",
                    abortHandled < 0 ? -1.0 : (abortHandled / 1e6 - abortAfter),
                    abortHandled < 0 ? -1.0 : (total - abortHandled) / 1e6);
    }
    std::printf("\n");
    return 0;
}
