// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;

namespace vexlo::platform {

// One running copy of the program per user and display. The first start
// listens on a local socket; a second start on the same display connects,
// asks it to bring its window back (restored from minimised, to the front,
// switched to the folder the second start was given) and then ends without
// a window.
//
// The message is one line, answered with "ok" so that the second start knows
// the first really took it:
//     activate token=<XDG_ACTIVATION_TOKEN> startup-id=<DESKTOP_STARTUP_ID> folder=<bytes>\n
// (values percent-encoded, any may be empty; folder= may be missing, as it is
// from older copies, and words a copy does not know are passed over, so that
// older and newer copies understand each other). The desktop hands the
// activation token to the process it starts; forwarding it lets the running
// window take the focus on Wayland, where a window may not steal it.
//
// The socket lives in the user's runtime folder ($XDG_RUNTIME_DIR, else a
// private folder of this user under the temp folder, never the temp folder
// itself: without a private folder each start runs alone). Both ends check
// that the other runs as the same user: a client of another user is not
// answered, and a server of another user is not asked. The name carries
// the display (DISPLAY and WAYLAND_DISPLAY): a start on another display
// opens a window of its own there instead of waking one the user cannot
// see. VEXLO32_INSTANCE_NAME overrides the name (an absolute path is used as
// it is, a bare name goes into that folder) so that tests never meet a copy
// the user is running.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Claim {
        HandedOver, // a running copy took the request: this start should end (status 0)
        Serving,    // no copy answered: this one is now the one others find
        Alone,      // none took the request and we could not listen: run anyway
    };

    static constexpr int kDefaultTimeoutMs = 1500;

    explicit SingleInstance(QObject* parent = nullptr);
    explicit SingleInstance(const QString& serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The name used when none is given: VEXLO32_INSTANCE_NAME or the
    // per-user socket path of this display (platform::displayKey()). Empty
    // when there is no folder of this user's alone to put it in: claim()
    // then runs alone, with no hand-over either way.
    static QString defaultServerName();
    QString serverName() const { return m_name; }

    // The whole start-up decision, serialised between starts by a lock file
    // beside the socket: hand over, or else become the server; a stale socket
    // left by a crashed copy is removed on the way.
    Claim claim(int timeoutMs = kDefaultTimeoutMs);

    // Asks a running copy to show itself, forwarding this process's
    // activation tokens (read from the environment when the object was made;
    // make it before the QApplication, which may consume DESKTOP_STARTUP_ID).
    // True only when the running copy answered "ok" within the time.
    bool tryHandOver(int timeoutMs = kDefaultTimeoutMs);
    bool tryHandOver(int timeoutMs, const QByteArray& token, const QByteArray& startupId,
                     const QString& folder = QString());

    // The folder a hand-over asks the running copy to show (an absolute
    // path; empty: the window stays where it is).
    void setFolder(const QString& folder) { m_folder = folder; }

    // Starts listening. A socket file nobody listens on any more is removed
    // and the listen retried once; a socket that still accepts connections
    // is left alone and listen fails with AddressInUseError.
    bool listen();
    bool isListening() const;
    QAbstractSocket::SocketError lastError() const { return m_error; }
    QString errorText() const { return m_errorText; }

signals:
    // A second start asked for the window. token is its XDG activation token
    // (set it as XDG_ACTIVATION_TOKEN before QWindow::requestActivate),
    // startupId its X11 startup notification id, folder the folder it was
    // given to open; any may be empty.
    void activationRequested(const QByteArray& token, const QByteArray& startupId,
                             const QString& folder);

private:
    enum class Probe { Nobody, Stale, Alive };
    Probe probeServer(int timeoutMs) const;
    void acceptConnections();
    void readRequest(QLocalSocket* socket);

    QString m_name;
    QByteArray m_token;
    QByteArray m_startupId;
    QString m_folder;
    std::unique_ptr<QLocalServer> m_server;
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
    QString m_errorText;
};

} // namespace vexlo::platform
