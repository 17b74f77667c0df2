#pragma once

#include "lookout.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <iostream>
#include <sstream>

#include <sys/socket.h>

// A lobby on 127.0.0.1, port 0: connection n (from 1) gets answerFor(n), its
// pieces a pass of the event loop apart, then ended as the answer says.
class ScriptedLobby : public QTcpServer
{
public:
    struct Answer
    {
        enum End { Close, Hang, Reset };
        QList<QByteArray> pieces;
        End end = Close;
    };

    std::function<Answer(int connection)> answerFor;
    QList<qint64> connectedAt; // ms since the lobby started

    ScriptedLobby()
    {
        listen(QHostAddress::LocalHost, 0);
        m_clock.start();
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connectedAt.append(m_clock.elapsed());
                connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
                send(socket, answerFor(connections()), 0);
            }
        });
    }

    // Each connection gets the next of `answers`, the last one again and again.
    void script(const QList<Answer> &answers)
    {
        answerFor = [answers](int n) { return answers.at(qMin(n, int(answers.size())) - 1); };
    }
    int connections() const { return int(connectedAt.size()); }

private:
    static void send(QTcpSocket *socket, const Answer &a, qsizetype piece)
    {
        if (piece < a.pieces.size()) {
            socket->write(a.pieces.at(piece));
            QTimer::singleShot(0, socket, [=] { send(socket, a, piece + 1); });
        } else if (a.end == Answer::Close) {
            socket->disconnectFromHost();
        } else if (a.end == Answer::Reset) {
            // Linger {1, 0} turns the close into a reset, as a crashing lobby
            // would; the few bytes before it go to the kernel first.
            socket->flush();
            const linger now{1, 0};
            setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            socket->abort();
        }
    }

    QElapsedTimer m_clock;
};

// A folder of its own with `list` as its list.cfg (none for a null list), and
// the options of a watcher that reads it and asks `lobby` (none: a port that
// refuses).
struct WatcherSetup
{
    explicit WatcherSetup(const QByteArray &list, const QTcpServer *lobby = nullptr)
    {
        QFile file(folder.filePath(QStringLiteral("list.cfg")));
        if (!list.isNull() && (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size()))
            qFatal("cannot write list.cfg");
        options.lobbyAddress = QHostAddress::LocalHost;
        options.lobbyPort = lobby ? lobby->serverPort() : 1;
        options.folder = folder.path();
    }

    QTemporaryDir folder;
    WatcherOptions options;
};

// Takes standard output while it lives: kept for text(), or dropped where a
// flood of lines would print millions of traces.
class CapturedOutput
{
public:
    explicit CapturedOutput(bool keep = true)
        : m_saved(std::cout.rdbuf(keep ? m_text.rdbuf() : nullptr))
    {
    }
    ~CapturedOutput() { std::cout.rdbuf(m_saved); }
    Q_DISABLE_COPY_MOVE(CapturedOutput)
    QByteArray text() const { return QByteArray::fromStdString(m_text.str()); }

private:
    std::stringstream m_text;
    std::streambuf *m_saved;
};

// The highest resident memory since start(), above what it was then: the
// kernel's own high-water mark, reset through clear_refs.
class PeakMemory
{
public:
    // False where memory is not judged: the kernel does not let the mark be
    // reset, or AddressSanitizer's quarantine and redzones swell it.
    bool start()
    {
        QFile reset(QStringLiteral("/proc/self/clear_refs"));
        m_start = status("VmRSS:");
        return !underAsan && reset.open(QIODevice::WriteOnly) && reset.write("5") == 1 && m_start > 0;
    }
    qint64 growth() const { return status("VmHWM:") - m_start; }

private:
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool underAsan = true;
#elif defined(__has_feature)
    static constexpr bool underAsan = __has_feature(address_sanitizer);
#else
    static constexpr bool underAsan = false;
#endif

    // A field of /proc/self/status in bytes; -1 where there is none.
    static qint64 status(const char *field)
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

    qint64 m_start = 0;
};

Q_DECLARE_METATYPE(ScriptedLobby::Answer)
