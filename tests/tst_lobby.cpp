#include "report.h"
#include "simulation.h"
#include "watchlist.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Who sits where, read the way the watcher reads it; a line it would pass
// over, and a player it could not tell apart, is a fault.
struct ReadReport
{
    QSet<QString> servers;
    QHash<QString, QString> serverOf; // by player
    QStringList faults;
};

ReadReport readReport(const QByteArray &bytes)
{
    ReadReport read;
    if (QString::fromUtf8(bytes).toUtf8() != bytes || !bytes.endsWith('\n'))
        read.faults.append(u"not UTF-8 lines, each with its line feed"_s);
    QString server; // of the line just before, if it was a server line
    for (const QByteArray &raw : bytes.left(bytes.size() - 1).split('\n')) {
        const QString line = QString::fromUtf8(raw + '\n');
        const auto list = report::playerList(line);
        if (const auto name = report::serverName(line)) {
            read.servers.insert(server = name->toString());
            continue;
        }
        if (!list || server.isEmpty())
            read.faults.append(u"stray line: "_s + line);
        else
            report::forEachPlayer(*list, [&](QStringView name) {
                // Where two tabs meet, forEachPlayer hands over a name that starts with one.
                if (name.startsWith(u'\t') || read.serverOf.contains(name.toString()))
                    read.faults.append(u"empty or repeated name in: "_s + line);
                read.serverOf.insert(name.toString(), server);
            });
        server.clear();
    }
    return read;
}

// The watched players of a report, as the watcher finds them with the list.
QSet<QString> caught(const QByteArray &list, const QByteArray &report)
{
    QStringList entries;
    for (const QByteArray &line : list.split('\n')) {
        if (const auto name = watchlist::entryName(QString::fromLatin1(line + '\n')))
            entries.append(*name);
    }
    const watchlist::Matcher watched(entries);
    report::PollReader reader(watched);
    reader.read(report);
    const QStringList found = reader.takeEntries();
    return QSet<QString>(found.begin(), found.end());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}

} // namespace

class tst_lobby : public QObject
{
    Q_OBJECT

private slots:
    void simulatedPolls_data();
    void simulatedPolls();
    void writesTheDemoListAndDumpsPolls();
    void servesEachReportWhole_data();
    void servesEachReportWhole();
    void badOptionsExitWithTwo_data();
    void badOptionsExitWithTwo();

private:
    QTemporaryDir m_dir;
};

void tst_lobby::simulatedPolls_data()
{
    QTest::addColumn<int>("servers");
    QTest::addColumn<int>("players");
    QTest::addColumn<double>("churn");
    QTest::addColumn<int>("fewest"); // players who come, go or move per poll
    QTest::addColumn<int>("most");

    const double usual = LobbySimulation::defaultChurn;
    QTest::newRow("the demo lobby, 5 to 10 percent") << 12 << 60 << usual << 3 << 6;
    QTest::newRow("thousands with numbered names, 5 to 10 percent") << 300 << 20000 << usual << 1000 << 2000;
    QTest::newRow("more servers than players, some empty") << 40 << 5 << usual << 1 << 1;
    QTest::newRow("nobody plays at all") << 3 << 0 << usual << 0 << 0;
    QTest::newRow("no churn still changes one player") << 12 << 60 << 0.0 << 1 << 1;
    QTest::newRow("everybody changes every poll") << 6 << 50 << 1.0 << 50 << 50;
    QTest::newRow("on a lone server players only come and go") << 1 << 400 << usual << 20 << 40;
}

// Every poll reads well, the seed matters, and from one poll to the next only
// a few players change.
void tst_lobby::simulatedPolls()
{
    QFETCH(int, servers);
    QFETCH(int, players);
    QFETCH(double, churn);
    QFETCH(int, fewest);
    QFETCH(int, most);

    LobbySimulation simulation(11, servers, players, churn);
    QVERIFY(LobbySimulation(12, servers, players, churn).report() != simulation.report());
    QHash<QString, QString> before;
    for (int step = 0; step < 20; ++step, simulation.advance()) {
        const ReadReport read = readReport(simulation.report());
        QCOMPARE(read.faults, QStringList());
        QCOMPARE(read.servers.size(), servers);
        QSet<QString> seen(before.keyBegin(), before.keyEnd());
        int changed = 0;
        for (const QString &name : seen.unite({read.serverOf.keyBegin(), read.serverOf.keyEnd()}))
            changed += before.value(name) != read.serverOf.value(name);
        QVERIFY2(
            step == 0 || (changed >= fewest && changed <= most), qPrintable(u"%1 changed"_s.arg(changed)));
        before = read.serverOf;
    }
    // Joins and leaves balance: the lobby neither empties nor fills up.
    QVERIFY2(players < 40 || (before.size() >= players * 4 / 10 && before.size() <= players * 9 / 10),
        qPrintable(u"%1 online"_s.arg(before.size())));
}

// scripts/demo.sh watches the simulation with lobby/demo-list.cfg.
void tst_lobby::writesTheDemoListAndDumpsPolls()
{
    const QString list = m_dir.filePath(u"list.cfg"_s);
    const QString dump = m_dir.filePath(u"dump"_s);
    QProcess lobby;
    lobby.start(QStringLiteral(LOBBY_EXE),
        {u"--simulate"_s, u"--write-list"_s, list, u"--dump"_s, dump, u"--count"_s, u"2"_s});
    QVERIFY(lobby.waitForFinished(20000));
    QCOMPARE(lobby.exitCode(), 0);
    const QByteArray demo = readFile(QStringLiteral(DEMO_LIST));
    QCOMPARE(readFile(list), demo);

    LobbySimulation simulation;
    const QSet<QString> first = caught(demo, simulation.report());
    QVERIFY(!first.isEmpty());
    QCOMPARE(readFile(dump + u"/report-0001.txt"_s), simulation.report());
    simulation.advance();
    QCOMPARE(readFile(dump + u"/report-0002.txt"_s), simulation.report());
    int step = 0;
    while (caught(demo, simulation.report()) == first && ++step < 5)
        simulation.advance();
    QVERIFY2(step < 5, "nobody watched came, went or moved in five polls");
}

void tst_lobby::servesEachReportWhole_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<QByteArray>>("expected");

    const QByteArray first = "SERVER 1; a Arena\r\nCLIENTS 1; Sam\r\n";
    const QByteArray middle = "x\0y\n\xff\xfe"_ba;
    const QByteArray last = "SERVER 2; b Castle\nCLIENTS 1; Kira";
    // Written out of order, one with a capital, and with a folder that sorts
    // last: names decide code unit by code unit, and only files count.
    const QString reports = m_dir.filePath(u"reports"_s);
    QVERIFY(writeFile(reports + u"/10-last"_s, last) && writeFile(reports + u"/02-first"_s, first)
        && writeFile(reports + u"/10-Middle"_s, middle) && QDir().mkpath(reports + u"/99-folder"_s));
    QByteArray big;
    while (big.size() < 24 * 1024 * 1024)
        big += "SERVER " + QByteArray::number(big.size()) + "; a Arena\nCLIENTS 1; Sam\n";
    QVERIFY(writeFile(m_dir.filePath(u"large/report.txt"_s), big));
    LobbySimulation simulation(5, 4, 30, 0.5);
    QList<QByteArray> polls;
    for (int i = 0; i < 3; ++i, simulation.advance())
        polls.append(simulation.report());

    QTest::newRow("files in name order, the last again and again")
        << QStringList{u"--reports"_s, reports} << QList<QByteArray>{first, middle, last, last};
    QTest::newRow("the folder on its own") << QStringList{reports} << QList<QByteArray>{first, middle};
    QTest::newRow("tens of megabytes arrive whole")
        << QStringList{m_dir.filePath(u"large"_s)} << QList<QByteArray>{big, big};
    // In a process of its own, the seed makes the same polls: the benchmarks
    // draw their inputs from it.
    QTest::newRow("the simulation of a seed, one poll later each time") << QStringList{u"--simulate"_s,
        u"--seed"_s, u"5"_s, u"--servers"_s, u"4"_s, u"--players"_s, u"30"_s, u"--churn"_s, u"0.5"_s}
                                                                        << polls;
}

void tst_lobby::servesEachReportWhole()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<QByteArray>, expected);

    QProcess lobby;
    lobby.start(QStringLiteral(LOBBY_EXE), arguments + QStringList{u"--port"_s, u"0"_s});
    QTRY_VERIFY_WITH_TIMEOUT(lobby.canReadLine(), 20000);
    const QByteArray banner = lobby.readLine();
    QVERIFY2(banner.startsWith("lookout-lobby listening on 127.0.0.1:"), banner.constData());
    const quint16 port = banner.mid(banner.lastIndexOf(':') + 1).trimmed().toUShort();
    for (const QByteArray &report : expected) {
        QTcpSocket poll;
        QByteArray got;
        connect(&poll, &QIODevice::readyRead, &poll, [&] { got += poll.readAll(); });
        QSignalSpy closed(&poll, &QAbstractSocket::disconnected);
        poll.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(closed.wait(20000));
        QCOMPARE(got + poll.readAll(), report);
    }
    lobby.kill();
    QVERIFY(lobby.waitForFinished());
}

void tst_lobby::badOptionsExitWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");

    const QString folder = m_dir.path();
    QTest::newRow("an unknown option") << QStringList{u"--simulate"_s, u"--bogus"_s};
    QTest::newRow("nothing to serve") << QStringList{};
    QTest::newRow("a folder and the simulation") << QStringList{u"--simulate"_s, u"--reports"_s, folder};
    QTest::newRow("a folder that is not there") << QStringList{u"--reports"_s, folder + u"/missing"_s};
    QTest::newRow("a port past 65535") << QStringList{u"--simulate"_s, u"--port"_s, u"65536"_s};
    QTest::newRow("an IPv6 address, which the watcher does not reach")
        << QStringList{u"--simulate"_s, u"--address"_s, u"::1"_s};
    QTest::newRow("churn above one") << QStringList{u"--simulate"_s, u"--churn"_s, u"1.5"_s};
    QTest::newRow("a seed without --simulate") << QStringList{u"--reports"_s, folder, u"--seed"_s, u"3"_s};
}

void tst_lobby::badOptionsExitWithTwo()
{
    QFETCH(QStringList, arguments);

    // A free port first, so that a row that wrongly starts cannot take the
    // lobby's own; a row's own --port comes later and wins.
    QProcess lobby;
    lobby.start(QStringLiteral(LOBBY_EXE), QStringList{u"--port"_s, u"0"_s} + arguments);
    QVERIFY(lobby.waitForFinished(20000));
    QCOMPARE(lobby.exitCode(), 2);
    QVERIFY(lobby.readAllStandardError().startsWith("lookout-lobby: "));
}

QTEST_GUILESS_MAIN(tst_lobby)
#include "tst_lobby.moc"
