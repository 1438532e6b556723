// SPDX-License-Identifier: MIT
#include "platform/SingleInstance.h"

#include "platform/Log.h"
#include "platform/NativeName.h"
#include "platform/Paths.h"

#include <QDeadlineTimer>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlo::platform {

namespace {

constexpr char kActivate[] = "activate";
constexpr char kTokenKey[] = "token=";
constexpr char kStartupKey[] = "startup-id=";
constexpr char kFolderKey[] = "folder=";
constexpr char kOk[] = "ok";
// Room for a folder path of PATH_MAX bytes, each percent-encoded.
constexpr qint64 kMaxRequest = 16384;
// A connection that sends no complete request is dropped after this.
constexpr int kRequestTimeoutMs = 5000;

// Where the socket goes: a folder nobody else may create files in, so
// nobody else can put a socket of their own in our place, and the socket
// needs no access options of its own (Qt would rename such a socket over an
// existing one, which would let two starts both believe they are the server).
// Empty when there is no such folder: a shared folder is never used instead,
// since there anyone could listen first and receive what a second start
// hands over, or hold the lock.
QString runtimeFolder()
{
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && xdg.startsWith('/') && isOwnPrivateFolder(decodeName(xdg), false))
        return decodeName(xdg);

    QByteArray temp = qgetenv("TMPDIR");
    if (temp.isEmpty() || !temp.startsWith('/'))
        temp = "/tmp";
    const QByteArray own = temp + "/vexlo32-" + QByteArray::number(qulonglong(::getuid()));
    ::mkdir(own.constData(), S_IRWXU);
    struct stat st;
    if (::lstat(own.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
        ::chmod(own.constData(), S_IRWXU); // ours, but opened up by someone: close it again
    if (isOwnPrivateFolder(decodeName(own), false))
        return decodeName(own);
    qCWarning(lcPlatform) << "no private folder for the instance socket:" << decodeName(own)
                          << "is someone else's, a link or no folder; running alone";
    return QString();
}

QString fullServerName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(kSeparator))
        return name;
    const QString folder = runtimeFolder();
    return folder.isEmpty() ? QString() : joinPath(folder, name);
}

// Whether the process at the other end of a connected socket runs as this
// user. Only the owner may write into the socket's folder, yet a name given
// from outside, or root's or a careless user's folder, may still be open to
// others: the one who listens, and the one who asks, must be us.
bool peerIsThisUser(const QLocalSocket& socket)
{
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0)
        return false;
    struct ucred peer {};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer)
        return false;
    if (peer.uid == ::geteuid())
        return true;
    qCWarning(lcPlatform) << "instance socket: the other end runs as user" << peer.uid
                          << "; passed over";
    return false;
}

QByteArray encodeValue(const QByteArray& value)
{
    return value.toPercentEncoding();
}

// The value of a word "key=value".
QByteArray valueAfter(const QByteArray& word, const char* key)
{
    return QByteArray::fromPercentEncoding(word.mid(qsizetype(qstrlen(key))));
}

} // namespace

SingleInstance::SingleInstance(QObject* parent) : SingleInstance(defaultServerName(), parent) {}

SingleInstance::SingleInstance(const QString& serverName, QObject* parent)
    : QObject(parent), m_name(fullServerName(serverName))
{
    // Taken now: once the toolkit has started it may have consumed them.
    m_token = qgetenv("XDG_ACTIVATION_TOKEN");
    m_startupId = qgetenv("DESKTOP_STARTUP_ID");
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName()
{
    const QByteArray forced = qgetenv("VEXLO32_INSTANCE_NAME");
    if (!forced.isEmpty())
        return fullServerName(decodeName(forced));
    return fullServerName(QStringLiteral("vexlo32-%1.instance").arg(displayKey()));
}

SingleInstance::Claim SingleInstance::claim(int timeoutMs)
{
    // Two starts at once must not both decide that nobody is there, nor both
    // remove a stale socket and listen in turn: the lock makes the second
    // wait until the first is listening, and then it hands over.
    if (m_name.isEmpty())
        return Claim::Alone; // no private folder: runtimeFolder() said why
    QLockFile lock(m_name + QStringLiteral(".lock"));
    lock.tryLock(2 * timeoutMs + 1000);

    if (tryHandOver(timeoutMs))
        return Claim::HandedOver;
    if (listen())
        return Claim::Serving;
    // Somebody listens but did not answer in time (busy starting up, or a
    // start that took no lock): ask once more before running alone.
    if (m_error == QAbstractSocket::AddressInUseError && tryHandOver(timeoutMs))
        return Claim::HandedOver;
    return Claim::Alone;
}

bool SingleInstance::tryHandOver(int timeoutMs)
{
    return tryHandOver(timeoutMs, m_token, m_startupId, m_folder);
}

bool SingleInstance::tryHandOver(int timeoutMs, const QByteArray& token,
                                 const QByteArray& startupId, const QString& folder)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    if (m_name.isEmpty())
        return false;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    // Another user's server is told nothing, and its answer counts for
    // nothing: this start then opens a window of its own.
    if (!peerIsThisUser(socket)) {
        socket.abort();
        return false;
    }

    QByteArray request = QByteArray(kActivate) + ' ' + kTokenKey + encodeValue(token) + ' ' +
                         kStartupKey + encodeValue(startupId);
    if (!folder.isEmpty())
        request += QByteArray(" ") + kFolderKey + encodeValue(encodeName(folder));
    request += '\n';
    socket.write(request);
    socket.flush();
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.readLine(64).trimmed() == kOk;
}

SingleInstance::Probe SingleInstance::probeServer(int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (socket.waitForConnected(timeoutMs)) {
        socket.abort();
        return Probe::Alive;
    }
    switch (socket.error()) {
    case QLocalSocket::ConnectionRefusedError:
        // The file is there and nobody accepts on it: its server is gone.
        return Probe::Stale;
    case QLocalSocket::ServerNotFoundError:
        return Probe::Nobody;
    default:
        // A time-out or a refusal of access: somebody may well be there.
        return Probe::Alive;
    }
}

bool SingleInstance::listen()
{
    if (isListening())
        return true;
    if (m_name.isEmpty()) {
        m_error = QAbstractSocket::SocketAddressNotAvailableError;
        m_errorText = QStringLiteral("no private folder for the instance socket");
        return false;
    }
    auto server = std::make_unique<QLocalServer>(this);
    server->setSocketOptions(QLocalServer::NoOptions);
    bool ok = server->listen(m_name);
    if (!ok && server->serverError() == QAbstractSocket::AddressInUseError &&
        probeServer(500) == Probe::Stale) {
        QLocalServer::removeServer(m_name);
        ok = server->listen(m_name);
    }
    if (!ok) {
        m_error = server->serverError();
        m_errorText = server->errorString();
        return false;
    }
    m_error = QAbstractSocket::UnknownSocketError;
    m_errorText.clear();
    connect(server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    m_server = std::move(server);
    return true;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // A request of another user is not read, let alone obeyed.
        if (!peerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        // Data may have come with the connection itself.
        if (socket->bytesAvailable() > 0)
            readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequest) {
            socket->abort();
            socket->deleteLater();
        }
        return;
    }
    // One request per connection: whatever follows it is not read. A line
    // longer than any request is refused whole, never cut to a shorter
    // folder name.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    const QByteArray line = socket->readLine(kMaxRequest);
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (!line.endsWith('\n') || words.isEmpty() || words.first() != kActivate) {
        socket->write("error\n");
        socket->disconnectFromServer();
        return;
    }
    QByteArray token;
    QByteArray startupId;
    QByteArray folder;
    for (const QByteArray& word : words) {
        if (word.startsWith(kTokenKey))
            token = valueAfter(word, kTokenKey);
        else if (word.startsWith(kStartupKey))
            startupId = valueAfter(word, kStartupKey);
        else if (word.startsWith(kFolderKey))
            folder = valueAfter(word, kFolderKey);
    }
    // Answer first: the other start is waiting to end.
    socket->write(QByteArray(kOk) + '\n');
    socket->flush();
    socket->disconnectFromServer();
    emit activationRequested(token, startupId, decodeName(folder));
}

} // namespace vexlo::platform
