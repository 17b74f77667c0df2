#include "lookout.h"

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
void trace(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    std::cout.write(bytes.constData(), bytes.size());
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
    if (!lines::openRegularFile(listFile))
        return;
    lines::forEachFileLine(listFile, [this](const QString &line) { parseConfigLine(line); });
    listFile.close();
}

void lookOut::parseConfigLine(const QString &line)
{
    if (watchlist::isComment(line))
        return;
    if (auto name = watchlist::entryName(line))
        watchList.append(*name);
}

void lookOut::connectToLobby()
{
    trace(u"connected\n"_s);
    onlineNow.clear();
    if (state() != UnconnectedState) {
        // The previous poll never finished. Its half report says nothing about
        // who left, so it is dropped without a comparison, and no second chain
        // of polls is started from it.
        m_abandoning = true;
        abort();
        m_abandoning = false;
    }
    m_splitter.reset();
    m_reader.newReport();
    m_received = 0;
    m_recognised = false;
    m_reset = false;
    connectToHost(m_options.lobbyAddress, m_options.lobbyPort, ReadWrite);
}

void lookOut::analizeInfo()
{
    trace(u"disconnected\n"_s);
    if (m_abandoning)
        return;
    // Whatever the socket still holds belongs to this report.
    processPackage();
    if (pastBounds())
        return;

    // A connection closed at once, one that brought nothing but noise, or
    // one cut off, in the middle of a line or by a reset, is no report:
    // comparing it would tell the user that everyone left. The poll is over
    // all the same, and the next one comes at its usual time.
    if (m_recognised && !m_splitter.inLine() && !m_reset) {
        const presence::Notice notice = presence::compare(onlineNow, onlineBefore);
        if (notice.kind == presence::Notice::Important)
            emit newImportantInfo(notice.text);
        else if (notice.kind == presence::Notice::Info)
            emit newInfo(notice.text);
        onlineBefore = onlineNow;
    }

    QTimer::singleShot(m_options.nextPollDelay, this, &lookOut::connectToLobby);
    pollTimer.start();
}

void lookOut::processPackage()
{
    if (resetByPeer(socketDescriptor()))
        m_reset = true;
    char chunk[64 * 1024];
    while (bytesAvailable() > 0) {
        const qint64 got = read(chunk, sizeof chunk);
        if (got <= 0)
            return;
        m_received += got;
        if (m_received <= maxReportSize)
            m_splitter.feed(chunk, got, [this](QByteArrayView line) { handleLine(line); });
        if (pastBounds()) {
            abandonPoll();
            return;
        }
    }
}

bool lookOut::pastBounds() const
{
    return m_received > maxReportSize || m_reader.overflowed();
}

void lookOut::handleLine(QByteArrayView line)
{
    if (m_reader.readLine(line, matcher(), currentServer, onlineNow, m_traces))
        m_recognised = true;
    if (!m_traces.isEmpty()) {
        std::cout.write(m_traces.constData(), m_traces.size());
        m_traces.resize(0);
    }
}

void lookOut::abandonPoll()
{
    m_abandoning = true;
    abort();
    m_abandoning = false;
    m_splitter.reset();
}

bool lookOut::isIntresting(const QString &name)
{
    return matcher().isWatched(name);
}

const watchlist::Matcher &lookOut::matcher()
{
    // The list only ever grows, so its length tells whether it changed.
    if (m_matcherEntries != watchList.size()) {
        m_matcher = watchlist::Matcher(watchList);
        m_matcherEntries = watchList.size();
    }
    return m_matcher;
}
