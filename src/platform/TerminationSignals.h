// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

namespace vexlo::platform {

// Turns SIGTERM, SIGHUP and SIGINT into a Qt signal delivered by the event
// loop, so that a logout, a closed terminal, `kill` or Ctrl-C end the
// program the way closing its window does (the folder remembered, the
// temporary description removed) instead of killing it mid-write.
//
// A signal handler may do next to nothing; ours writes one byte into a
// socket pair whose other end the event loop watches. After the first
// signal the default action is back in place: a second one ends the program
// at once, for a user who does not want to wait for the shutdown.
//
// One object per process; it restores the previous handlers when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the handlers could not be installed (the program then
    // keeps the default actions).
    bool isActive() const { return m_notifier != nullptr; }

signals:
    // Emitted once, from the event loop, with the number of the signal.
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vexlo::platform
