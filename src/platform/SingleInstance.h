#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;

namespace vexlo::platform {

// One running copy of the program per user. The first start listens on a
// local socket; a second start connects, asks it to bring its window back
// (restored from minimised, to the front) and then ends without a window.
//
// The message is one line, answered with "ok" so that the second start knows
// the first really took it:
//     activate token=<XDG_ACTIVATION_TOKEN> startup-id=<DESKTOP_STARTUP_ID>\n
// (values percent-encoded, either may be empty). The desktop hands the
// activation token to the process it starts; forwarding it lets the running
// window take the focus on Wayland, where a window may not steal it.
//
// The socket lives in the user's runtime folder ($XDG_RUNTIME_DIR, else a
// private folder of this user under the temp folder); VEXLO32_INSTANCE_NAME
// overrides the name (an absolute path is used as it is, a bare name goes
// into that folder) so that tests never meet a copy the user is running.
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
    // per-user socket path.
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
    bool tryHandOver(int timeoutMs, const QByteArray& token, const QByteArray& startupId);

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
    // startupId its X11 startup notification id; either may be empty.
    void activationRequested(const QByteArray& token, const QByteArray& startupId);

private:
    enum class Probe { Nobody, Stale, Alive };
    Probe probeServer(int timeoutMs) const;
    void acceptConnections();
    void readRequest(QLocalSocket* socket);

    QString m_name;
    QByteArray m_token;
    QByteArray m_startupId;
    std::unique_ptr<QLocalServer> m_server;
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
    QString m_errorText;
};

} // namespace vexlo::platform
