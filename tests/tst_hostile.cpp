#include "harness.h"
#include "lookout.h"
#include "reference.h"

#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {

// What the test's lobby does with the one connection it has been told to
// spoil. Every other connection gets a good report.
struct Hostile
{
    enum Kind {
        Send, // `bytes`, then an ordinary close
        Flood, // as Send, but more than the watcher believes of one report
        Stream, // `bytes`, then `repeat` over and over without end
        Drip, // `bytes` one at a time, 100 ms apart, round and round, never closed
        Reset, // `bytes`, then a reset instead of a close
        Refuse, // nobody listens for a while
    };
    Kind kind = Send;
    QByteArray bytes;
    QByteArray repeat;

    static Hostile send(const QByteArray &bytes) { return {Send, bytes, {}}; }
    static Hostile flood(const QByteArray &bytes) { return {Flood, bytes, {}}; }
    static Hostile stream(const QByteArray &bytes, const QByteArray &repeat)
    {
        return {Stream, bytes, repeat};
    }
    static Hostile drip(const QByteArray &bytes) { return {Drip, bytes, {}}; }
    static Hostile reset(const QByteArray &bytes) { return {Reset, bytes, {}}; }
    static Hostile refuse() { return {Refuse, {}, {}}; }
};

// Whatever a lobby sends, the watcher holds no more than this much more
// memory while it reads and compares the answer.
constexpr qint64 memoryBound = 100 * 1024 * 1024;

// Nor, for an answer that ends by itself, more CPU time than this, however
// its names were chosen. Reading and comparing the largest report the
// watcher believes takes well under a second even in a sanitizer build.
constexpr double cpuBoundSeconds = 15;

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A stream stops here if the watcher has not given up first; it gives up at
// lookOut::maxReportSize, far below.
constexpr qint64 streamLimit = 512 * 1024 * 1024;

class HostileLobby : public QTcpServer
{
public:
    // `hostile` spoils connection number `spoiled` (from 1); the first
    // connection gets `first`, all later ones `then`.
    HostileLobby(const QByteArray &first, const Hostile &hostile, const QByteArray &then)
        : m_first(first)
        , m_hostile(hostile)
        , m_then(then)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, &HostileLobby::answer);
    }

    int connections = 0;

private:
    void answer()
    {
        while (QTcpSocket *socket = nextPendingConnection()) {
            ++connections;
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            if (connections == 2 && m_hostile.kind != Hostile::Refuse)
                spoil(socket);
            else
                sendAndClose(socket, connections == 1 ? m_first : m_then);
            if (connections == 1 && m_hostile.kind == Hostile::Refuse)
                close();
        }
    }

    static void sendAndClose(QTcpSocket *socket, const QByteArray &bytes)
    {
        socket->write(bytes);
        socket->disconnectFromHost();
    }

    void spoil(QTcpSocket *socket)
    {
        switch (m_hostile.kind) {
        case Hostile::Send:
        case Hostile::Flood:
        case Hostile::Refuse: // never spoiled: the refusals come before
            sendAndClose(socket, m_hostile.bytes);
            break;
        case Hostile::Stream: {
            socket->write(m_hostile.bytes);
            // Written as the watcher reads, a few blocks ahead: the flood is
            // never held whole, on either side.
            QByteArray block
                = m_hostile.repeat.repeated(qMax<qsizetype>(1, 256 * 1024 / m_hostile.repeat.size()));
            auto sent = std::make_shared<qint64>(0);
            const auto more = [socket, block, sent] {
                while (socket->bytesToWrite() < 1024 * 1024 && *sent < streamLimit) {
                    socket->write(block);
                    *sent += block.size();
                }
                if (*sent >= streamLimit)
                    socket->disconnectFromHost();
            };
            connect(socket, &QIODevice::bytesWritten, socket, more);
            more();
            break;
        }
        case Hostile::Drip: {
            auto *timer = new QTimer(socket);
            auto next = std::make_shared<qsizetype>(0);
            connect(timer, &QTimer::timeout, socket, [socket, next, bytes = m_hostile.bytes] {
                socket->write(bytes.mid((*next)++ % bytes.size(), 1));
            });
            timer->start(100);
            break;
        }
        case Hostile::Reset: {
            socket->write(m_hostile.bytes);
            // Only once the kernel has every byte: then linger {1, 0} turns
            // the close into a reset, as a crashing lobby or a middlebox would.
            connect(socket, &QIODevice::bytesWritten, socket, [socket] {
                if (socket->bytesToWrite() > 0)
                    return;
                const linger reset{1, 0};
                setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                socket->abort();
                socket->deleteLater();
            });
            break;
        }
        }
    }

    QByteArray m_first;
    Hostile m_hostile;
    QByteArray m_then;
};

// Who is on, in the two good reports every case starts and ends with. Kira
// moves between them, so the second one shows whether the watcher still
// compares against the right poll.
const QByteArray watchListFile
    = "LIST += Sam\nLIST += Kira\nLIST += [AB]\nLIST += <img src=x>\nLIST += <img/src=x>\n"
      "LIST += &amp;\nLIST += <b>\n";
const QByteArray before = "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tNobody\t[AB]Kira\n"
                          "SERVER 2; b Castle\nCLIENTS 1; Zed\n";
const QByteArray after = "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n"
                         "SERVER 2; b Castle\nCLIENTS 2; Zed\t[AB]Kira\n";

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

QByteArray crowdedReport()
{
    // 100 servers of 1,000 players each, two of whom are watched.
    QByteArray report;
    for (int server = 1; server <= 100; ++server) {
        report += "SERVER " + QByteArray::number(server) + "; 10.0.0." + QByteArray::number(server)
            + ":27960 Server" + QByteArray::number(server) + "\nCLIENTS 1000; ";
        for (int i = 0; i < 1000; ++i) {
            if (i > 0)
                report += '\t';
            if (server == 17 && i == 500)
                report += "Sam";
            else if (server == 99 && i == 999)
                report += "[AB]Kira";
            else
                report += "Player" + QByteArray::number(server * 1000 + i);
        }
        report += '\n';
    }
    return report;
}

// A report of `count` players watched through the tag [AB], on one server,
// whose presence entries all have the same hash under the unseeded text hash
// the watcher once used for its tables: a lobby that knew the hash could send
// it, and every comparison after it would walk the whole table for every
// entry. The hash mixed the text four UTF-16 units at a time, each step
// invertible, so the four units before the fixed tail " Arena" are worked
// out backwards from the state they must leave.
QByteArray collidingReport(int count)
{
    constexpr quint64 mix = 0xff51afd7ed558ccdULL;
    quint64 unmix = mix; // its inverse modulo 2^64, by Newton's iteration
    for (int i = 0; i < 6; ++i)
        unmix *= 2 - mix * unmix;
    const auto step = [](quint64 h, quint64 units) {
        h = (h ^ units) * mix;
        return h ^ (h >> 32);
    };
    const auto word = [](QStringView four) {
        quint64 w = 0;
        for (int i = 3; i >= 0; --i)
            w = (w << 16) | four[i].unicode();
        return w;
    };
    const QString common = u"[AB]Colliding_player"_s; // 20 units: whole words
    constexpr quint64 target = 0x0123456789abcdefULL;
    const quint64 beforeTarget = (target ^ (target >> 32)) * unmix;
    const qsizetype length = common.size() + 8 + 6; // + free word, worked-out word, " Arena"

    QByteArray report = "SERVER 1; 10.0.0.1:27960 Arena\n";
    QByteArray line;
    int made = 0;
    for (quint32 n = 0; made < count; ++n) {
        QString name = common;
        for (quint32 k = n, i = 0; i < 4; ++i, k /= 36)
            name += QChar(u"0123456789abcdefghijklmnopqrstuvwxyz"[k % 36]);
        quint64 h = 0x9e3779b97f4a7c15ULL ^ (quint64(length) * 2);
        for (qsizetype at = 0; at < name.size(); at += 4)
            h = step(h, word(QStringView(name).sliced(at, 4)));
        const quint64 solved = beforeTarget ^ h;
        bool usable = true;
        for (int i = 0; i < 4; ++i) {
            const QChar c(char16_t(solved >> (16 * i)));
            usable = usable && c.unicode() > 0xff && !c.isSurrogate() && !c.isSpace() && !c.isNonCharacter();
            name += c;
        }
        if (!usable)
            continue;
        line += (line.isEmpty() ? "" : "\t") + name.toUtf8();
        if (++made % 1000 == 0 || made == count) {
            report += "CLIENTS 1000; " + line + '\n';
            line.clear();
        }
    }
    return report;
}

// The notice text outside the notice's own markup, which is all that a
// name can put there.
QString namesIn(QString text)
{
    for (const char *tag : {"<font color=#000000><b>", "<font color=#00aa00><b>", "<font color=#c0c0c0><b>",
             "</b> on ", "</b> left ", "<br/></font>"})
        text.remove(QLatin1String(tag));
    return text;
}

} // namespace

Q_DECLARE_METATYPE(Hostile)

// The watcher against lobbies that misbehave in every way we could think
// of. Each case runs a good report, the hostile answer, then another good
// report, and checks that nothing crashed, memory stayed bounded, every
// notice told the truth and the last report was read as usual.
class tst_hostile : public QObject
{
    Q_OBJECT

private slots:
    void hostileLobby_data();
    void hostileLobby();
};

void tst_hostile::hostileLobby_data()
{
    QTest::addColumn<Hostile>("hostile");
    // Who the spoiled answer really reports, or null when it is no report
    // and must not be compared at all.
    QTest::addColumn<QByteArray>("reported");

    const QByteArray noReport;
    // An answer closed in order is a report if it ends after a whole line,
    // whatever it holds.
    const auto ifWhole = [](const QByteArray &bytes) {
        return bytes.isEmpty() || bytes.endsWith('\n') ? bytes : QByteArray();
    };

    QTest::newRow("a line that never ends")
        << Hostile::stream("SERVER 1; a Arena\nCLIENTS 2; Sam\tKi", "x") << noReport;
    // A lobby's text, over and over: two watched players among twenty-five.
    QByteArray crowd = "SERVER 3; c Lagoon\nCLIENTS 22; Zed";
    for (int i = 1; i <= 21; ++i)
        crowd += "\tPlayer" + QByteArray::number(i);
    QTest::newRow("an endless stream of valid lines")
        << Hostile::stream({}, before + crowd + '\n') << noReport;
    QTest::newRow("an endless stream of lines about nobody")
        << Hostile::stream({}, "SERVER 1; a Arena\nCLIENTS 2; Nobody\tNoone\n") << noReport;
    QTest::newRow("one byte every 100 ms, never closed") << Hostile::drip(after) << noReport;
    QTest::newRow("a reset in the middle of a line")
        << Hostile::reset("SERVER 1; a Arena\nCLIENTS 2; Sam\tKi") << noReport;
    // Kira's line never came: the lobby died after Sam's.
    QTest::newRow("a reset right after a whole line")
        << Hostile::reset("SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 1; Sam\n") << noReport;
    QTest::newRow("a reset in the middle of the first line") << Hostile::reset("SERV") << noReport;
    // The lobby emptied: everyone left, and Sam comes back on the same server.
    QTest::newRow("accepted and closed at once") << Hostile::send({}) << ""_ba;
    QTest::newRow("refused connections") << Hostile::refuse() << noReport;
    const QByteArray random = randomBytes(4 * 1024 * 1024, 7);
    QTest::newRow("random binary data") << Hostile::send(random) << ifWhole(random);
    const QByteArray goodStart = before + randomBytes(1024 * 1024, 8);
    QTest::newRow("random binary data after a good start") << Hostile::send(goodStart) << ifWhole(goodStart);
    QTest::newRow("random binary data ending after a whole line") << Hostile::send(
        random.left(random.lastIndexOf('\n') + 1)) << random.left(random.lastIndexOf('\n') + 1);

    const QByteArray badUtf8 = before
        + "SERVER 3; c Ca\xffstle\n" // fails: the players below stay on Arena
          "CLIENTS 3; S\xc1\xa1m\tKi\xedra\tSa\xffm\n" // an overlong "a" is no "a"
          "SERVER 4; d \xed\xa0\x80\n" // a surrogate is no word
          "CLIENTS 1; \xf4\x90\x80\x80Sam\n" // past U+10FFFF
          "CLIENTS 1; [A\xc2\x80"
          "B]Zed\n" // a C1 control splits the tag
          "SERVER 2; b Castle\nCLIENTS 1; Zed\n";
    QTest::newRow("invalid UTF-8") << Hostile::send(badUtf8) << before;

    const QByteArray nuls = "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tNobody\t[AB]Kira\n"
                            "CLIENTS 1; Sam\0\n"_ba // a NUL cuts the line: no line feed, no line
                            "\0\0\0\0\n"_ba
                            "SERVER 2; b Cas\0tle\n"_ba // a failed server line
                            "CLIENTS 1; Kira\0\t[AB]Zed\n"_ba
                            "SERVER 2; b Castle\nCLIENTS 1; Zed\n\0"_ba;
    QTest::newRow("NUL bytes") << Hostile::send(nuls.left(nuls.size() - 1)) << before;
    QTest::newRow("NUL bytes after the last line") << Hostile::send(nuls) << noReport;

    const QByteArray crowded = crowdedReport();
    QTest::newRow("100,000 players") << Hostile::send(crowded) << crowded;

    // Four bytes of report would make a presence entry and a notice line,
    // and a long server name is repeated in each of them.
    const QByteArray seated = "SERVER 1; a A\n"
        + ("CLIENTS 1; " + QByteArray("Sam\t").repeated(200 * 1024) + "Sam\n").repeated(5);
    QTest::newRow("a watched player seated a million times") << Hostile::flood(seated) << noReport;
    const QByteArray longServer = "SERVER 1; a " + QByteArray(1000 * 1000, 'A') + "\nCLIENTS 1; "
        + QByteArray("Sam\t").repeated(49) + "Sam\n";
    QTest::newRow("a watched player seated on a server with a long name")
        << Hostile::flood(longServer) << noReport;

    const QByteArray markup
        = before + "SERVER 3; c Lagoon\nCLIENTS 4; <img src=x>\t&amp;\t<b>\t<img/src=x>\n";
    const QByteArray colliding = collidingReport(99990);
    QTest::newRow("names built to collide in an unseeded hash") << Hostile::send(colliding) << colliding;

    QTest::newRow("names made of markup") << Hostile::send(markup) << markup;
}

void tst_hostile::hostileLobby()
{
    QFETCH(Hostile, hostile);
    QFETCH(QByteArray, reported);

    QTemporaryDir dir;
    QFile list(dir.filePath(u"list.cfg"_s));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(watchListFile);
    list.close();

    HostileLobby lobby(before, hostile, after);
    QVERIFY(lobby.isListening());
    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = lobby.serverPort();
    options.folder = dir.path();
    options.nextPollDelay = 50;
    // What ends a poll that never ends, retries a refused one and follows one
    // given up. Where the answer ends by itself, no sanitizer build is slow
    // enough to meet it.
    const bool endless = hostile.kind == Hostile::Stream || hostile.kind == Hostile::Drip
        || hostile.kind == Hostile::Refuse || hostile.kind == Hostile::Flood;
    options.fallbackInterval = endless ? 2000 : 120000;

    // Each notice with the number of the connection it came from.
    struct Told
    {
        int connection;
        reference::Notice notice;
    };
    QList<Told> told;

    PeakMemory memory;
    const bool peakKnown = memory.start();
    const double cpuAtStart = threadCpuSeconds();
    {
        SilencedOutput silenced;
        lookOut watcher(nullptr, options);
        connect(&watcher, &lookOut::newInfo, this, [&](const QString &text) {
            told.append({lobby.connections, {reference::Notice::Info, text}});
        });
        connect(&watcher, &lookOut::newImportantInfo, this, [&](const QString &text) {
            told.append({lobby.connections, {reference::Notice::Important, text}});
        });
        QSignalSpy errors(&watcher, &QAbstractSocket::errorOccurred);
        if (hostile.kind == Hostile::Refuse) {
            // Two refused polls, then the lobby is back on the same port.
            QTRY_VERIFY_WITH_TIMEOUT(std::count_if(errors.cbegin(), errors.cend(),
                                         [](const QList<QVariant> &e) {
                                             return e.at(0).value<QAbstractSocket::SocketError>()
                                                 == QAbstractSocket::ConnectionRefusedError;
                                         })
                    >= 2,
                20000);
            QVERIFY(lobby.listen(QHostAddress::LocalHost, options.lobbyPort));
        }
        const int polls = hostile.kind == Hostile::Refuse ? 3 : 4;
        QTRY_VERIFY_WITH_TIMEOUT(lobby.connections >= polls, 60000);
        // The last of them, whose answer repeats the one before, is read to its end.
        QTRY_VERIFY_WITH_TIMEOUT(watcher.state() == QAbstractSocket::UnconnectedState, 10000);
    }
    const double cpu = threadCpuSeconds() - cpuAtStart;
    qInfo("CPU time %.2f s", cpu);
    if (!endless)
        QVERIFY2(cpu < cpuBoundSeconds, qPrintable(u"%1 s of CPU time"_s.arg(cpu)));
    const qint64 growth = memory.growth();
    if (!memoryIsJudged) {
        qInfo(
            "peak memory growth %.1f MB, not judged under AddressSanitizer", double(growth) / (1024 * 1024));
    } else if (!peakKnown) {
        qWarning("no peak resident memory from /proc/self: the memory bound goes unchecked");
    } else {
        qInfo("peak memory growth %.1f MB", double(growth) / (1024 * 1024));
        QVERIFY2(growth < memoryBound, qPrintable(u"resident memory grew by %1 MB"_s.arg(growth >> 20)));
    }

    // The truth, poll by poll, and what the watcher should have said about it.
    const QStringList watched = reference::watchList(watchListFile);
    QList<std::optional<QStringList>> truth{reference::online(before, watched)};
    if (hostile.kind != Hostile::Refuse)
        truth.append(reported.isNull() ? std::nullopt : std::optional(reference::online(reported, watched)));
    truth.append(reference::online(after, watched));
    truth.append(reference::online(after, watched));

    QList<Told> expected;
    QStringList last;
    for (int poll = 1; poll <= truth.size(); ++poll) {
        if (!truth[poll - 1])
            continue;
        const reference::Notice notice = reference::compare(*truth[poll - 1], last);
        if (notice.kind != reference::Notice::None)
            expected.append({poll, notice});
        last = *truth[poll - 1];
    }

    for (const Told &t : std::as_const(told)) {
        QVERIFY2(
            !namesIn(t.notice.text).contains(u'<'), qPrintable(u"markup from a name: "_s + t.notice.text));
    }
    QCOMPARE(told.size(), expected.size());
    for (qsizetype i = 0; i < told.size(); ++i) {
        QCOMPARE(told[i].connection, expected[i].connection);
        QCOMPARE(told[i].notice.kind, expected[i].notice.kind);
        QCOMPARE(told[i].notice.text, expected[i].notice.text);
    }
}

QTEST_GUILESS_MAIN(tst_hostile)
#include "tst_hostile.moc"
