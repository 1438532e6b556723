// SPDX-License-Identifier: MIT
#include "platform/NativeName.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using vexlo::platform::SingleInstance;

namespace {

struct Activation {
    QByteArray token;
    QByteArray startupId;
    QString folder;
};

bool isSocketFile(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// What a crashed server leaves behind: a socket file nobody listens on.
bool makeStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (size_t(native.size()) >= sizeof addr.sun_path) {
        ::close(fd);
        return false;
    }
    std::memcpy(addr.sun_path, native.constData(), size_t(native.size()) + 1);
    const bool ok =
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 1) == 0;
    ::close(fd);
    return ok;
}

// The other end of a socket in a child process, as a user of its own when
// otherUser: a client that sends one request and exits 1 when it is
// answered "ok" (0 otherwise), or a server that answers "ok" to one
// connection. A byte on ready says it is about to connect, or is listening.
// System calls only: it runs in a fork of a threaded process.
int otherEnd(const QByteArray& path, bool client, bool otherUser, int ready)
{
    if (otherUser && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return 3;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (fd < 0 || size_t(path.size()) >= sizeof addr.sun_path)
        return 3;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()) + 1);
    auto* where = reinterpret_cast<sockaddr*>(&addr);
    char reply[64] = {};
    if (client) {
        if (::write(ready, "c", 1) != 1 || ::connect(fd, where, sizeof addr) != 0)
            return 3;
        const char request[] = "activate token=theirs startup-id=\n";
        if (::write(fd, request, sizeof request - 1) != ssize_t(sizeof request - 1))
            return 3;
        size_t have = 0;
        ssize_t got = 0;
        while (have < sizeof reply - 1 &&
               (got = ::read(fd, reply + have, sizeof reply - 1 - have)) > 0)
            have += size_t(got);
        return std::strncmp(reply, "ok\n", 3) == 0 ? 1 : 0;
    }
    if (::bind(fd, where, sizeof addr) != 0 || ::listen(fd, 1) != 0 || ::write(ready, "l", 1) != 1)
        return 3;
    const int peer = ::accept(fd, nullptr, nullptr);
    if (peer < 0 || ::write(peer, "ok\n", 3) != 3)
        return 3;
    while (::read(peer, reply, sizeof reply) > 0) {
    }
    return 0;
}

// Runs a blocking client on a worker thread while this thread's event loop
// keeps serving, as a second start would in its own process.
template <typename Work> void runOnWorker(Work work, int timeoutMs = 10000)
{
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    QTRY_VERIFY_WITH_TIMEOUT(thread->isFinished(), timeoutMs);
    thread->wait();
}

// Sends one raw request line to the server of that name, from another
// thread (the server answers from this one), and returns its answer.
QByteArray replyTo(const QString& name, const QByteArray& request)
{
    QByteArray reply;
    runOnWorker([&] {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (!socket.waitForConnected(3000))
            return;
        socket.write(request);
        socket.flush();
        while (!socket.canReadLine() && socket.waitForReadyRead(3000)) {
        }
        reply = socket.readLine().trimmed();
    });
    return reply;
}

// A helper process (tests/instance_helper.cpp) claiming the name.
class Helper {
public:
    // An empty name: the standard name, in the runtime folder extraEnv gives.
    // extraEnv: "NAME=value" sets a variable, a bare "NAME" removes it.
    Helper(const QString& name, const QStringList& extraEnv = {}, int timeoutMs = 1500,
           const QString& folder = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (name.isEmpty())
            env.remove("VEXLO32_INSTANCE_NAME");
        else
            env.insert("VEXLO32_INSTANCE_NAME", name);
        env.remove("XDG_ACTIVATION_TOKEN");
        env.remove("DESKTOP_STARTUP_ID");
        for (const QString& pair : extraEnv) {
            if (pair.contains('='))
                env.insert(pair.section('=', 0, 0), pair.section('=', 1));
            else
                env.remove(pair);
        }
        m_process.setProcessEnvironment(env);
        QStringList args{QString::number(timeoutMs)};
        if (!folder.isEmpty())
            args.append(folder);
        m_process.start(VEXLO32_INSTANCE_HELPER, args);
    }
    ~Helper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // The next line of output, or an empty text when none came in time.
    QByteArray nextLine(int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            m_buffer += m_process.readAllStandardOutput();
            const qsizetype end = m_buffer.indexOf('\n');
            if (end >= 0) {
                const QByteArray line = m_buffer.left(end);
                m_buffer.remove(0, end + 1);
                return line;
            }
            if (deadline.hasExpired() ||
                (m_process.state() == QProcess::NotRunning && m_process.bytesAvailable() == 0))
                return QByteArray();
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
    }

    // Ends a serving helper the way it ends normally.
    int stop()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_buffer;
};

} // namespace

class TestInstance : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    // A fresh socket path for each test, never the one the user's copy uses.
    QString freshName() { return m_dir.path() + QStringLiteral("/i%1").arg(++m_counter); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void handOverCarriesTheTokens_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QByteArray>("startupId");
        QTest::addColumn<QString>("folder");
        QTest::newRow("wayland token")
            << QByteArray("kwin-1234_TIME5678") << QByteArray() << QString();
        QTest::newRow("x11 startup id")
            << QByteArray() << QByteArray("vexlo32-1-host_TIME42") << QString();
        QTest::newRow("both") << QByteArray("abc") << QByteArray("def") << QString();
        QTest::newRow("none") << QByteArray() << QByteArray() << QString();
        QTest::newRow("spaces, equals, newline")
            << QByteArray("a b=c\nd%") << QByteArray("token= x") << QString();
        QTest::newRow("non-ascii bytes")
            << QByteArray("\xc3\xa9\xff\x01") << QByteArray("\x80") << QString();
        QTest::newRow("a folder") << QByteArray("t") << QByteArray()
                                  << QString("/home/u/Games folder=1 token=2");
        QTest::newRow("a folder whose name is no UTF-8")
            << QByteArray() << QByteArray() << vexlo::platform::decodeName("/srv/caf\xe9/\xff\n");
        QTest::newRow("a folder as long as a path may be")
            << QByteArray() << QByteArray() << "/" + QString(1364, QChar(0x2554)); // 4093 bytes
    }
    void handOverCarriesTheTokens()
    {
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, startupId);
        QFETCH(QString, folder);
        const QString name = freshName();
        SingleInstance server(name);
        QVERIFY(server.listen());
        QVERIFY(server.isListening());
        QList<Activation> received;
        connect(&server, &SingleInstance::activationRequested, this,
                [&](const QByteArray& t, const QByteArray& s, const QString& f) {
                    received.append({t, s, f});
                });

        bool handedOver = false;
        runOnWorker(
            [&] { handedOver = SingleInstance(name).tryHandOver(3000, token, startupId, folder); });
        QVERIFY(handedOver);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().token, token);
        QCOMPARE(received.first().startupId, startupId);
        QCOMPARE(received.first().folder, folder);
    }

    // Older and newer copies understand each other: a request without a
    // folder is an activation, words not known are passed over.
    void requestsOfOtherVersions_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QString>("folder");
        QTest::newRow("an older copy")
            << QByteArray("activate token=x startup-id=y\n") << QByteArray("x") << QString();
        QTest::newRow("a newer copy")
            << QByteArray("activate later=1 folder=%2Fa%20b token=t startup-id= more\n")
            << QByteArray("t") << QString("/a b");
    }
    void requestsOfOtherVersions()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, token);
        QFETCH(QString, folder);
        const QString name = freshName();
        SingleInstance server(name);
        QVERIFY(server.listen());
        QList<Activation> received;
        connect(&server, &SingleInstance::activationRequested, this,
                [&](const QByteArray& t, const QByteArray& s, const QString& f) {
                    received.append({t, s, f});
                });
        const QByteArray reply = replyTo(name, request);
        QCOMPARE(reply, QByteArray("ok"));
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().token, token);
        QCOMPARE(received.first().folder, folder);
    }

    void tokensComeFromTheEnvironmentAtConstruction()
    {
        const QString name = freshName();
        SingleInstance server(name);
        QVERIFY(server.listen());
        QList<Activation> received;
        connect(&server, &SingleInstance::activationRequested, this,
                [&](const QByteArray& t, const QByteArray& s) {
                    received.append({t, s, QString()});
                });

        qputenv("XDG_ACTIVATION_TOKEN", "from-env");
        qputenv("DESKTOP_STARTUP_ID", "id-from-env");
        auto client = std::make_unique<SingleInstance>(name);
        // The toolkit may clear them once it starts: what counts is construction.
        qunsetenv("XDG_ACTIVATION_TOKEN");
        qunsetenv("DESKTOP_STARTUP_ID");
        bool handedOver = false;
        runOnWorker([&] { handedOver = client->tryHandOver(3000); });
        QVERIFY(handedOver);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().token, QByteArray("from-env"));
        QCOMPARE(received.first().startupId, QByteArray("id-from-env"));
    }

    void nobodyThereMeansServing()
    {
        const QString name = freshName();
        SingleInstance first(name);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!first.tryHandOver(1500));
        QVERIFY2(timer.elapsed() < 1000, "a missing server must be noticed at once");
        QCOMPARE(first.claim(1500), SingleInstance::Claim::Serving);
        QVERIFY(isSocketFile(name));

        // A second object on the same name finds the first one alive.
        SingleInstance second(name);
        QVERIFY(!second.listen());
        QCOMPARE(second.lastError(), QAbstractSocket::AddressInUseError);
        QVERIFY(first.isListening());
        QVERIFY(isSocketFile(name));
    }

    void serverRemovesItsSocketWhenItEnds()
    {
        const QString name = freshName();
        {
            SingleInstance server(name);
            QVERIFY(server.listen());
            QVERIFY(isSocketFile(name));
        }
        QVERIFY(!QFile::exists(name));
    }

    void staleSocketIsReplaced()
    {
        const QString name = freshName();
        QVERIFY(makeStaleSocket(name));
        QVERIFY(isSocketFile(name));
        SingleInstance instance(name);
        QCOMPARE(instance.claim(1500), SingleInstance::Claim::Serving);
        QVERIFY(instance.isListening());

        // The new socket really is ours: a client reaches it.
        bool handedOver = false;
        runOnWorker([&] { handedOver = SingleInstance(name).tryHandOver(3000, "t", "s"); });
        QVERIFY(handedOver);
    }

    void silentServerIsNotTakenOver()
    {
        // Something accepts connections but never answers (this thread is
        // blocked in claim, so it cannot).
        const QString name = freshName();
        QLocalServer silent;
        QVERIFY(silent.listen(name));
        SingleInstance instance(name);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(instance.claim(300), SingleInstance::Claim::Alone);
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(!instance.isListening());
        QVERIFY(silent.isListening());
        QVERIFY(isSocketFile(name));
    }

    void unknownRequestIsRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("other word") << QByteArray("quit\n");
        QTest::newRow("empty line") << QByteArray("\n");
        QTest::newRow("prefix only") << QByteArray("activated token=x\n");
    }
    void unknownRequestIsRefused()
    {
        QFETCH(QByteArray, request);
        const QString name = freshName();
        SingleInstance server(name);
        QVERIFY(server.listen());
        QSignalSpy spy(&server, &SingleInstance::activationRequested);
        const QByteArray reply = replyTo(name, request);
        QCOMPARE(reply, QByteArray("error"));
        QCOMPARE(spy.count(), 0);
    }

    void nameFromTheEnvironment_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("absolute");
        QTest::newRow("absolute path") << QByteArray("/some/where/test.sock") << true;
        QTest::newRow("bare name") << QByteArray("parallel-run-7") << false;
    }
    void nameFromTheEnvironment()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, absolute);
        const QByteArray saved = qgetenv("VEXLO32_INSTANCE_NAME");
        qputenv("VEXLO32_INSTANCE_NAME", value);
        const QString fromEnv = SingleInstance::defaultServerName();
        const QString fromObject = SingleInstance().serverName();
        qunsetenv("VEXLO32_INSTANCE_NAME");
        const QString standard = SingleInstance::defaultServerName();
        if (!saved.isEmpty())
            qputenv("VEXLO32_INSTANCE_NAME", saved);

        QCOMPARE(fromObject, fromEnv);
        if (absolute)
            QCOMPARE(fromEnv, QString::fromUtf8(value));
        else
            QVERIFY2(fromEnv.startsWith('/') && fromEnv.endsWith("/" + QString::fromUtf8(value)),
                     qPrintable(fromEnv));
        QVERIFY(standard.startsWith('/'));
        QVERIFY(standard != fromEnv);
        // Beside the standard name, in the same per-user folder.
        if (!absolute)
            QCOMPARE(fromEnv.section('/', 0, -2), standard.section('/', 0, -2));
    }

    // Without a session folder the socket must still go where nobody else
    // can create files: another user who takes the per-user folder's name
    // in the shared temporary folder first (here a file in its place) must
    // not make the program put its socket, and look for a running copy,
    // in the shared folder itself, where that user can listen instead.
    void takenPerUserFolderNeverMeansTheSharedFolder()
    {
        QTemporaryDir shared;
        QVERIFY(shared.isValid());
        QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
        QFile planted(shared.filePath("vexlo32-" + QString::number(::getuid())));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.close();
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray savedTemp = qgetenv("TMPDIR");
        const QByteArray savedName = qgetenv("VEXLO32_INSTANCE_NAME");
        qunsetenv("XDG_RUNTIME_DIR");
        qunsetenv("VEXLO32_INSTANCE_NAME");
        qputenv("TMPDIR", QFile::encodeName(shared.path()));
        const QString name = SingleInstance::defaultServerName();
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("TMPDIR", savedTemp);
        if (!savedName.isEmpty())
            qputenv("VEXLO32_INSTANCE_NAME", savedName);
        if (savedRuntime.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        if (savedTemp.isEmpty())
            qunsetenv("TMPDIR");

        // With no folder of our own there is no name: the start runs alone.
        if (name.isEmpty()) {
            Helper start(QString(), {"XDG_RUNTIME_DIR", "TMPDIR=" + shared.path()}, 300);
            QCOMPARE(start.nextLine(), QByteArray("alone"));
            QVERIFY(start.process().waitForFinished(10000));
            QCOMPARE(QDir(shared.path())
                         .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                    QDir::System),
                     QStringList({planted.fileName().section('/', -1)}));
            return;
        }
        const QString folder = name.section('/', 0, -2);
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &st), 0);
        QVERIFY2(st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0,
                 qPrintable(name));
    }

    // Both ends of the socket must run as this user: a server of ours does
    // not obey another user's request, and a start of ours takes no answer
    // from another user's server (it opens a window of its own instead).
    // Another user is played by a child process that takes user "nobody".
    void otherUsersAreNotBelieved_data()
    {
        QTest::addColumn<bool>("ourServer"); // else the child serves and we ask
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<bool>("believed");
        QTest::newRow("our server, our request") << true << false << true;
        QTest::newRow("our server, their request") << true << true << false;
        QTest::newRow("their server, our request") << false << true << false;
        QTest::newRow("our request, a server of ours") << false << false << true;
    }
    void otherUsersAreNotBelieved()
    {
        QFETCH(bool, ourServer);
        QFETCH(bool, otherUser);
        QFETCH(bool, believed);
        if (otherUser && ::geteuid() != 0)
            QSKIP("only root can start a process of another user");
        // A folder the other user may reach, and create the socket in.
        QTemporaryDir open;
        QVERIFY(open.isValid());
        QCOMPARE(::chmod(QFile::encodeName(open.path()).constData(), 0777), 0);
        const QString name = open.filePath("s");
        const QByteArray native = QFile::encodeName(name);

        std::unique_ptr<SingleInstance> server;
        if (ourServer) {
            server = std::make_unique<SingleInstance>(name);
            QVERIFY(server->listen());
            QCOMPARE(::chmod(native.constData(), 0777), 0);
        }
        int requests = 0;
        if (server)
            connect(server.get(), &SingleInstance::activationRequested, this, [&] { ++requests; });

        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0)
            ::_exit(otherEnd(native, ourServer, otherUser, ready[1]));
        ::close(ready[1]);
        char byte = 0;
        const bool childReady = ::read(ready[0], &byte, 1) == 1; // listening, or connecting
        ::close(ready[0]);

        bool handedOver = false;
        if (!ourServer && childReady)
            handedOver = SingleInstance(name).tryHandOver(3000, "t", "s");
        int status = -1;
        if (!ourServer)
            ::kill(child, SIGKILL);
        bool reaped = false; // the macro asks once more after success
        QTRY_VERIFY_WITH_TIMEOUT(reaped || (reaped = ::waitpid(child, &status, WNOHANG) == child),
                                 10000);
        QVERIFY(childReady);
        if (ourServer) {
            // The child's exit code: 1 when it was answered "ok".
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status) == 1, believed);
            QCOMPARE(requests, believed ? 1 : 0);
        } else {
            QCOMPARE(handedOver, believed);
        }
    }

    // --- two real processes -------------------------------------------------

    void secondProcessHandsOverAndEnds()
    {
        const QString name = freshName();
        Helper first(name);
        QCOMPARE(first.nextLine(), QByteArray("serving"));

        QElapsedTimer timer;
        timer.start();
        Helper second(name, {"XDG_ACTIVATION_TOKEN=wl-token-1", "DESKTOP_STARTUP_ID=x11-id-1"});
        QVERIFY(second.process().waitForFinished(10000));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QCOMPARE(second.nextLine(), QByteArray("handed over"));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));

        QCOMPARE(first.nextLine(), QByteArray("activated token=wl-token-1 startup-id=x11-id-1"));
        QCOMPARE(first.stop(), 0);
        QVERIFY(!QFile::exists(name));
    }

    void secondProcessHandsOverItsFolder()
    {
        const QString name = freshName();
        Helper first(name);
        QCOMPARE(first.nextLine(), QByteArray("serving"));
        // (QProcess passes arguments as text: bytes that are no UTF-8 are
        // tried in handOverCarriesTheTokens.)
        const QByteArray folder = "/srv/Caf\xc3\xa9 files/x=1 token=2";
        Helper second(name, {}, 1500, vexlo::platform::decodeName(folder));
        QCOMPARE(second.nextLine(), QByteArray("handed over"));
        QVERIFY(second.process().waitForFinished(10000));
        QCOMPARE(second.process().exitCode(), 0);
        QCOMPARE(first.nextLine(), "activated token= startup-id= folder=" + folder);
        QCOMPARE(first.stop(), 0);
    }

    // One running copy per user and display: a start on another display
    // serves a window of its own; one on the same display hands over.
    void oneCopyPerDisplay_data()
    {
        QTest::addColumn<QStringList>("firstDisplay");
        QTest::addColumn<QStringList>("secondDisplay");
        QTest::addColumn<bool>("handsOver");
        const QStringList x71{"DISPLAY=:71", "WAYLAND_DISPLAY"};
        const QStringList x72{"DISPLAY=:72", "WAYLAND_DISPLAY"};
        const QStringList w7{"DISPLAY=:71", "WAYLAND_DISPLAY=wayland-7"};
        const QStringList w8{"DISPLAY=:71", "WAYLAND_DISPLAY=wayland-8"};
        const QStringList none{"DISPLAY", "WAYLAND_DISPLAY"};
        QTest::newRow("same X display") << x71 << x71 << true;
        QTest::newRow("another X display") << x71 << x72 << false;
        QTest::newRow("same Wayland display") << w7 << w7 << true;
        QTest::newRow("another Wayland display, same X") << w7 << w8 << false;
        QTest::newRow("X alone, then Wayland beside it") << x71 << w7 << false;
        QTest::newRow("no display, twice") << none << none << true;
    }
    void oneCopyPerDisplay()
    {
        QFETCH(QStringList, firstDisplay);
        QFETCH(QStringList, secondDisplay);
        QFETCH(bool, handsOver);
        // The standard name, in a runtime folder of this test's own.
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        const QString runtimeEnv = "XDG_RUNTIME_DIR=" + runtime.path();
        Helper first(QString(), firstDisplay + QStringList{runtimeEnv});
        QCOMPARE(first.nextLine(), QByteArray("serving"));
        Helper second(QString(), secondDisplay + QStringList{runtimeEnv});
        QCOMPARE(second.nextLine(), QByteArray(handsOver ? "handed over" : "serving"));
        const QStringList sockets =
            QDir(runtime.path()).entryList(QDir::System).filter(".instance");
        QCOMPARE(sockets.size(), handsOver ? 1 : 2);
        if (handsOver) {
            QVERIFY(first.nextLine().startsWith("activated "));
        } else {
            // A third start on the first display still finds the first.
            Helper third(QString(), firstDisplay + QStringList{runtimeEnv});
            QCOMPARE(third.nextLine(), QByteArray("handed over"));
            QVERIFY(first.nextLine().startsWith("activated "));
            QCOMPARE(second.stop(), 0);
        }
        QCOMPARE(first.stop(), 0);
    }

    void killedServerLeavesAStaleSocketTheNextStartCleans()
    {
        const QString name = freshName();
        {
            Helper crashed(name);
            QCOMPARE(crashed.nextLine(), QByteArray("serving"));
            crashed.process().kill(); // SIGKILL: no chance to clean up
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        QVERIFY(isSocketFile(name));

        Helper next(name);
        QCOMPARE(next.nextLine(), QByteArray("serving"));
        Helper another(name, {"XDG_ACTIVATION_TOKEN=after-crash"});
        QCOMPARE(another.nextLine(), QByteArray("handed over"));
        QVERIFY(another.process().waitForFinished(5000));
        QCOMPARE(another.process().exitCode(), 0);
        QCOMPARE(next.nextLine(), QByteArray("activated token=after-crash startup-id="));
        QCOMPARE(next.stop(), 0);
    }

    void simultaneousStartsLeaveExactlyOneServer_data()
    {
        QTest::addColumn<bool>("staleSocket");
        QTest::newRow("no socket yet") << false;
        // Every start sees the dead socket: only one may remove it and listen.
        QTest::newRow("after a crash") << true;
    }
    void simultaneousStartsLeaveExactlyOneServer()
    {
        QFETCH(bool, staleSocket);
        const QString name = freshName();
        if (staleSocket)
            QVERIFY(makeStaleSocket(name));
        std::vector<std::unique_ptr<Helper>> helpers;
        for (int i = 0; i < 4; ++i)
            helpers.push_back(std::make_unique<Helper>(name));
        int serving = 0;
        int handedOver = 0;
        Helper* server = nullptr;
        for (auto& helper : helpers) {
            const QByteArray line = helper->nextLine();
            if (line == "serving") {
                ++serving;
                server = helper.get();
            } else if (line == "handed over") {
                ++handedOver;
            } else {
                QFAIL(qPrintable("unexpected: " + QString::fromUtf8(line)));
            }
        }
        QCOMPARE(serving, 1);
        QCOMPARE(handedOver, 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(server->nextLine().startsWith("activated "));
        QCOMPARE(server->stop(), 0);
    }
};

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
