#pragma once

#include "lookout.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <iostream>
#include <sstream>

#include <sys/socket.h>

// What the C++ tests share: one scripted lobby, one way to build a watcher,
// one way to capture or silence standard output, and memory figures.

// A lobby scripted by the test: connection n (from 1) gets answerFor(n),
// written in its pieces a pass of the event loop apart and then ended as the
// answer says.
class ScriptedLobby : public QTcpServer
{
public:
    struct Answer
    {
        enum End { Close, Hang, Reset };
        QList<QByteArray> pieces;
        End end = Close;
    };

    std::function<Answer(int connection)> answerFor = [](int) { return Answer{}; };
    QList<qint64> connectedAt; // ms since the lobby started

    ScriptedLobby()
    {
        listen(QHostAddress::LocalHost, 0);
        m_clock.start();
        connect(this, &QTcpServer::newConnection, this, &ScriptedLobby::answer);
    }

    // Each connection gets the next answer of `script`, the last one again and again.
    void script(const QList<Answer> &answers)
    {
        answerFor = [answers](int n) { return answers.at(qMin(n, int(answers.size())) - 1); };
    }
    int connections() const { return int(connectedAt.size()); }

private:
    void answer()
    {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connectedAt.append(m_clock.elapsed());
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            send(socket, answerFor(connections()), 0);
        }
    }

    static void send(QTcpSocket *socket, const Answer &a, qsizetype piece)
    {
        if (piece < a.pieces.size()) {
            socket->write(a.pieces.at(piece));
            QTimer::singleShot(0, socket, [=] { send(socket, a, piece + 1); });
        } else if (a.end == Answer::Close) {
            socket->disconnectFromHost();
        } else if (a.end == Answer::Reset) {
            // Once the kernel has every byte, linger {1, 0} turns the close
            // into a reset, as a crashing lobby or a middlebox would.
            const auto reset = [socket] {
                if (socket->bytesToWrite() > 0)
                    return;
                const linger now{1, 0};
                setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
                socket->abort();
                socket->deleteLater();
            };
            connect(socket, &QIODevice::bytesWritten, socket, reset);
            reset();
        }
    }

    QElapsedTimer m_clock;
};

// A folder of its own with `list` as its list.cfg, and the options of a
// watcher that reads it and asks `lobby` (none: a port that refuses).
struct WatcherSetup
{
    explicit WatcherSetup(const QByteArray &list, const QTcpServer *lobby = nullptr)
    {
        QFile file(folder.filePath(QStringLiteral("list.cfg")));
        if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size())
            qFatal("cannot write list.cfg");
        options.lobbyAddress = QHostAddress::LocalHost;
        options.lobbyPort = lobby ? lobby->serverPort() : 1;
        options.folder = folder.path();
    }

    QTemporaryDir folder;
    WatcherOptions options;
};

// Collects what the code under test writes to standard output while it lives.
class CapturedOutput
{
public:
    CapturedOutput()
        : m_saved(std::cout.rdbuf(m_text.rdbuf()))
    {
    }
    ~CapturedOutput() { std::cout.rdbuf(m_saved); }
    CapturedOutput(const CapturedOutput &) = delete;
    CapturedOutput &operator=(const CapturedOutput &) = delete;
    QByteArray text() const { return QByteArray::fromStdString(m_text.str()); }

private:
    std::stringstream m_text;
    std::streambuf *m_saved;
};

// Keeps standard output off the test's own while it lives: a flood of valid
// lines would print millions of traces.
class SilencedOutput
{
public:
    SilencedOutput()
        : m_saved(std::cout.rdbuf(nullptr))
    {
    }
    ~SilencedOutput() { std::cout.rdbuf(m_saved); }
    SilencedOutput(const SilencedOutput &) = delete;
    SilencedOutput &operator=(const SilencedOutput &) = delete;

private:
    std::streambuf *m_saved;
};

#if defined(__SANITIZE_ADDRESS__)
#define LOOKOUT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOOKOUT_ASAN 1
#endif
#endif

// Under AddressSanitizer freed memory waits in a quarantine and every
// allocation carries redzones, so resident memory says nothing about the
// program's own: memory is judged in the other builds.
#ifdef LOOKOUT_ASAN
constexpr bool memoryIsJudged = false;
#else
constexpr bool memoryIsJudged = true;
#endif

// A field of /proc/self/status in bytes ("VmRSS:"); -1 where there is none.
inline qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// The highest resident memory since start(), above what it was then: the
// kernel's own high-water mark, reset through clear_refs.
class PeakMemory
{
public:
    // False where the kernel does not let the mark be reset.
    bool start()
    {
        QFile reset(QStringLiteral("/proc/self/clear_refs"));
        m_start = statusBytes("VmRSS:");
        return reset.open(QIODevice::WriteOnly) && reset.write("5") == 1 && m_start > 0;
    }
    qint64 growth() const { return statusBytes("VmHWM:") - m_start; }

private:
    qint64 m_start = 0;
};

Q_DECLARE_METATYPE(ScriptedLobby::Answer)
