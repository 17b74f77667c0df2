#include "lookout.h"

#include "lines.h"
#include "presence.h"

#include <QCoreApplication>

#include <iostream>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

using namespace Qt::StringLiterals;

QHostAddress WatcherOptions::defaultLobbyAddress()
{
    return QHostAddress(QStringLiteral(LOOKOUT_LOBBY_ADDRESS));
}

namespace {

// The traces are for whoever started us from a terminal; nothing reads them.
void trace(QByteArrayView text)
{
    std::cout.write(text.data(), text.size());
}

// Whether the lobby reset the connection rather than closing it. Qt reports
// both as the same remote close, so a report cut off by a crashing lobby
// right after a line feed would read as a whole one. The kernel still tells
// them apart while the socket is open: a reset closes it at once, a close
// leaves it waiting for our side.
bool resetByPeer(qintptr socket)
{
#ifdef Q_OS_LINUX
    tcp_info info{};
    socklen_t size = sizeof info;
    return socket >= 0 && getsockopt(int(socket), IPPROTO_TCP, TCP_INFO, &info, &size) == 0
        && info.tcpi_state == TCP_CLOSE;
#else
    Q_UNUSED(socket);
    return false;
#endif
}

} // namespace

lookOut::lookOut(QObject *, const WatcherOptions &options)
    : QTcpSocket(nullptr)
    , listFile((options.folder.isEmpty() ? QCoreApplication::applicationDirPath() : options.folder)
          + u"/list.cfg"_s)
    , m_options(options)
{
    // Bounds what the socket itself buffers between two reads of ours.
    setReadBufferSize(256 * 1024);

    parseConfig();
    connectToLobby();

    // Precise: Qt's coarse timers may fire up to 5 % early.
    pollTimer.setTimerType(Qt::PreciseTimer);
    pollTimer.setInterval(m_options.fallbackInterval);
    pollTimer.setSingleShot(false);
    pollTimer.start();

    connect(&pollTimer, &QTimer::timeout, this, &lookOut::connectToLobby);
    connect(this, &QIODevice::readyRead, this, &lookOut::processPackage);
    connect(this, &QAbstractSocket::disconnected, this, &lookOut::analizeInfo);
}

lookOut::~lookOut()
{
    // The socket's own destructor closes an open connection and signals it;
    // by then this part of the object is gone, so the close must not reach
    // analizeInfo().
    disconnect(this, nullptr, this, nullptr);
    abort();
}

void lookOut::parseConfig()
{
    lines::readRegularFile(
        listFile, [this](const QString &line) { parseConfigLine(line); }, lines::Text::Utf8OrLatin1);
}

void lookOut::parseConfigLine(const QString &line)
{
    if (lines::isComment(line))
        return;
    if (auto name = watchlist::entryName(line))
        watchList.add(*name);
}

void lookOut::connectToLobby()
{
    trace("connected\n");
    onlineNow.clear();
    if (state() != UnconnectedState) {
        // The previous poll never finished. Its half report says nothing about
        // who left, so it is dropped without a comparison, and no second chain
        // of polls is started from it.
        closeWithoutReport();
    }
    m_poll.start();
    connectToHost(m_options.lobbyAddress, m_options.lobbyPort, ReadWrite);
}

void lookOut::analizeInfo()
{
    trace("disconnected\n");
    if (m_abandoning)
        return;
    // Whatever the socket still holds belongs to this report.
    processPackage();

    // A lobby that closed in order has said all it had, even if that was
    // nothing: an empty lobby tells that everyone left. A reset, a line cut
    // off or an answer past its bounds carries evidence that it is not the
    // whole story, and comparing it would tell of departures that never
    // happened. The next poll comes at its usual time either way.
    if (m_poll.verdict() == report::PollReader::Verdict::Report) {
        const presence::Notice notice = presence::compare(onlineNow, onlineBefore);
        if (notice.kind == presence::Notice::Important)
            emit newImportantInfo(notice.text);
        else if (notice.kind == presence::Notice::Info)
            emit newInfo(notice.text);
        onlineBefore = onlineNow;
    }
    scheduleNextPoll();
}

void lookOut::processPackage()
{
    if (resetByPeer(socketDescriptor()))
        m_poll.lobbyReset();
    char chunk[64 * 1024];
    while (bytesAvailable() > 0 && !m_poll.pastBound()) {
        const qint64 got = read(chunk, sizeof chunk);
        if (got <= 0)
            break;
        m_poll.read(QByteArrayView(chunk, got));
        const QStringList found = m_poll.takeEntries();
        for (const QString &entry : found)
            trace(presence::traceLine(entry));
        onlineNow += found;
    }
    // Given up while the lobby still talks: nothing more of it is read, and
    // the next poll is arranged here, as analizeInfo() does for a poll that
    // ends by itself.
    if (m_poll.pastBound() && state() != UnconnectedState) {
        closeWithoutReport();
        scheduleNextPoll();
    }
}

void lookOut::closeWithoutReport()
{
    m_abandoning = true;
    abort();
    m_abandoning = false;
}

void lookOut::scheduleNextPoll()
{
    QTimer::singleShot(m_options.nextPollDelay, Qt::PreciseTimer, this, &lookOut::connectToLobby);
    pollTimer.start();
}

bool lookOut::isIntresting(const QString &name)
{
    return watchList.isWatched(name);
}
