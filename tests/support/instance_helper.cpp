// SPDX-License-Identifier: MIT
// A stand-in for the program's start-up, for the single-instance tests: it
// claims the instance name (VEXLO32_INSTANCE_NAME) as the program does and
// reports on stdout what happened:
//   "handed over"  another copy took the request; exits 0 at once
//   "alone"        nobody answered and it could not listen; exits 3
//   "serving"      it is the server now; then one line per request:
//                  "activated token=<token> startup-id=<id>[ folder=<folder>]"
// Arguments: the time-out in milliseconds, and a folder to hand over.
// A serving helper ends when its stdin is closed.

#include "platform/NativeName.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using vexlo::platform::SingleInstance;

namespace {
void say(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    // Made before the application object, as the program does.
    SingleInstance instance;
    QCoreApplication app(argc, argv);
    const int timeoutMs = argc > 1 ? std::atoi(argv[1]) : SingleInstance::kDefaultTimeoutMs;
    if (argc > 2)
        instance.setFolder(vexlo::platform::decodeName(argv[2]));

    switch (instance.claim(timeoutMs)) {
    case SingleInstance::Claim::HandedOver:
        say("handed over");
        return 0;
    case SingleInstance::Claim::Alone:
        say("alone");
        return 3;
    case SingleInstance::Claim::Serving:
        break;
    }

    QObject::connect(
        &instance, &SingleInstance::activationRequested,
        [](const QByteArray& token, const QByteArray& startupId, const QString& folder) {
            say("activated token=" + token + " startup-id=" + startupId +
                (folder.isEmpty() ? QByteArray()
                                  : " folder=" + vexlo::platform::encodeName(folder)));
        });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    say("serving");
    return app.exec();
}
