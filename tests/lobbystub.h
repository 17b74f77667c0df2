#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <iostream>
#include <sstream>

// A lobby scripted by the test: each connection gets the next answer of the
// script (the last one repeats), written in the pieces given, a pass of the
// event loop apart, then closed, unless the answer says to hang.
class LobbyStub : public QTcpServer
{
public:
    struct Answer
    {
        QList<QByteArray> pieces;
        bool hang = false;
    };

    LobbyStub()
    {
        listen(QHostAddress::LocalHost, 0);
        clock.start();
        connect(this, &QTcpServer::newConnection, this, &LobbyStub::answer);
    }

    void say(const QByteArray &report) { script.append({{report}, false}); }
    void sayInPieces(const QList<QByteArray> &pieces) { script.append({pieces, false}); }
    void hang() { script.append({{}, true}); }

    QList<Answer> script;
    QList<qint64> connectedAt; // ms since the stub started
    QList<QPointer<QTcpSocket>> open;

private:
    void answer()
    {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connectedAt.append(clock.elapsed());
            const qsizetype n = connectedAt.size() - 1;
            const Answer a = script.isEmpty() ? Answer{} : script.at(qMin(n, script.size() - 1));
            open.append(socket);
            send(socket, a, 0);
        }
    }

    void send(QTcpSocket *socket, const Answer &a, qsizetype piece)
    {
        if (piece < a.pieces.size()) {
            socket->write(a.pieces.at(piece));
            socket->flush();
            QTimer::singleShot(5, socket, [=] { send(socket, a, piece + 1); });
        } else if (!a.hang) {
            socket->disconnectFromHost();
        }
    }

    QElapsedTimer clock;
};

// Collects what the code under test writes to standard output.
class CapturedOutput
{
public:
    CapturedOutput()
        : m_saved(std::cout.rdbuf(m_text.rdbuf()))
    {
    }
    ~CapturedOutput() { std::cout.rdbuf(m_saved); }
    QByteArray text() const { return QByteArray::fromStdString(m_text.str()); }

private:
    std::stringstream m_text;
    std::streambuf *m_saved;
};
