// SPDX-License-Identifier: MIT
#include "platform/TerminationSignals.h"

#include "platform/Log.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexlo::platform {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGHUP, SIGINT};

// The socket pair: the handler writes into [0], the event loop reads [1].
int g_pair[2] = {-1, -1};
struct sigaction g_previous[kSignals.size()];

void onSignal(int number)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Non-blocking: should the loop not be reading, a full pair drops the
    // byte rather than hanging the handler; one byte is all it takes.
    [[maybe_unused]] const ssize_t n = ::write(g_pair[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (g_pair[0] >= 0)
        return; // one per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pair) != 0) {
        qCInfo(lcPlatform) << "no shutdown on signals: socketpair failed," << strerror(errno);
        g_pair[0] = g_pair[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a signal must not turn a read or write of an
    // archive into a failure.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &action, &g_previous[i]);
        // A signal the program was started to ignore (nohup) stays ignored.
        if (g_previous[i].sa_handler == SIG_IGN)
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair[0] = g_pair[1] = -1;
}

void TerminationSignals::readSignal()
{
    unsigned char byte = 0;
    if (::read(g_pair[1], &byte, 1) != 1)
        return;
    // From here on a further signal takes its default action.
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    m_notifier->setEnabled(false);
    emit terminationRequested(int(byte));
}

} // namespace vexlo::platform
