#include "lobbystub.h"
#include "lookout.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// When the watcher asks the lobby, and what it does with polls that do not
// end well. Intervals are shortened; the production ones are the defaults.
class tst_pollcycle : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void defaultsAreTheProgramsOwn();
    void firstPollStartsDuringConstruction();
    void answeredPollsFollowOneAnother();
    void unreachableLobbyIsRetriedQuietly();
    void hangingPollIsAbandonedWithoutNotice();
    void oversizedReportIsAbandonedWithoutNoticeAndPollingGoesOn();

private:
    WatcherOptions optionsFor(const LobbyStub &lobby, int nextPollDelay, int fallbackInterval) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_pollcycle::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QFile list(m_dir->filePath(u"list.cfg"_s));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("LIST += Sam\nLIST += Kira\n");
}

WatcherOptions tst_pollcycle::optionsFor(
    const LobbyStub &lobby, int nextPollDelay, int fallbackInterval) const
{
    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = lobby.serverPort();
    options.nextPollDelay = nextPollDelay;
    options.fallbackInterval = fallbackInterval;
    options.folder = m_dir->path();
    return options;
}

void tst_pollcycle::defaultsAreTheProgramsOwn()
{
    const WatcherOptions options;
    QCOMPARE(options.lobbyAddress,
        QHostAddress(QStringLiteral(LOOKOUT_LOBBY_ADDRESS))); // as the build was configured
    QCOMPARE(options.lobbyPort, 22000);
    QCOMPARE(options.nextPollDelay, 60000);
    QCOMPARE(options.fallbackInterval, 150000);
}

void tst_pollcycle::firstPollStartsDuringConstruction()
{
    LobbyStub lobby;
    lobby.say("SERVER 1; a Arena\nCLIENTS 1; Sam\n");
    CapturedOutput output;
    lookOut watcher(nullptr, optionsFor(lobby, 60000, 150000));
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);

    QCOMPARE(output.text(), "connected\n"_ba);
    QVERIFY(watcher.state() != QAbstractSocket::UnconnectedState);
    QCOMPARE(lobby.connectedAt.size(), 0); // nothing happens before the event loop runs

    QTRY_COMPARE(important.count(), 1);
    QCOMPARE(output.text(), "connected\nSam on Arena\ndisconnected\n"_ba);
}

void tst_pollcycle::answeredPollsFollowOneAnother()
{
    LobbyStub lobby;
    lobby.say("SERVER 1; a Arena\nCLIENTS 1; Sam\n");
    lobby.say("CLIENTS 1; Sam\tKira\n"); // no server line: the last one read still holds
    lobby.say("SERVER 2; b Castle\nCLIENTS 1; Kira\n");
    const int delay = 100;
    lookOut watcher(nullptr, optionsFor(lobby, delay, 60000));
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);

    // Well before the fallback timer could have fired.
    QTRY_COMPARE_WITH_TIMEOUT(lobby.connectedAt.size(), 5, 10000);
    for (int i = 1; i < lobby.connectedAt.size(); ++i)
        QVERIFY2(lobby.connectedAt[i] - lobby.connectedAt[i - 1] >= delay - 5, "a poll came too early");

    QCOMPARE(important.count(), 3);
    QCOMPARE(important.at(1).at(0).toString(),
        u"<font color=#000000><b>Sam</b> on Arena<br/></font><font color=#00aa00><b>Kira</b> on Arena<br/></font>"_s);
    QCOMPARE(important.at(2).at(0).toString(),
        u"<font color=#00aa00><b>Kira</b> on Castle<br/></font>"
        u"<font color=#c0c0c0><b>Sam</b> left Arena<br/></font><font color=#c0c0c0><b>Kira</b> left Arena<br/></font>"_s);
    QCOMPARE(ordinary.count(), 0); // the last answer repeats: nothing changes after it
}

void tst_pollcycle::unreachableLobbyIsRetriedQuietly()
{
    LobbyStub lobby;
    WatcherOptions options = optionsFor(lobby, 60000, 100);
    lobby.close(); // nothing listens on the port any more

    CapturedOutput output;
    lookOut watcher(nullptr, options);
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);

    QTRY_VERIFY(output.text().count("connected\n") >= 4);
    QVERIFY(!output.text().contains("disconnected"));
    QCOMPARE(important.count() + ordinary.count(), 0);
}

void tst_pollcycle::hangingPollIsAbandonedWithoutNotice()
{
    LobbyStub lobby;
    lobby.say("SERVER 1; a Arena\nCLIENTS 1; Sam\n");
    lobby.hang();
    lobby.say("SERVER 1; a Arena\nCLIENTS 1; Sam\n");
    const int delay = 50;
    lookOut watcher(nullptr, optionsFor(lobby, delay, 400));
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);

    QTRY_COMPARE_WITH_TIMEOUT(lobby.connectedAt.size(), 8, 10000);
    // Sam never left: no notice of a departure, and no second arrival.
    QCOMPARE(important.count(), 1);
    QCOMPARE(ordinary.count(), 0);
    // One chain of polls, not two running side by side.
    for (int i = 3; i < lobby.connectedAt.size(); ++i)
        QVERIFY2(lobby.connectedAt[i] - lobby.connectedAt[i - 1] >= delay - 5, "two chains of polls");
}

void tst_pollcycle::oversizedReportIsAbandonedWithoutNoticeAndPollingGoesOn()
{
    LobbyStub lobby;
    lobby.say("SERVER 1; a Arena\nCLIENTS 1; Sam\n");
    QByteArray flood;
    for (const QByteArray &line : {"SERVER 2; b Castle\n"_ba, "CLIENTS 1; Kira\n"_ba})
        flood += line;
    flood = flood.repeated(int(lookOut::maxReportSize / flood.size()) + 1);
    lobby.say(flood);
    lobby.say("SERVER 1; a Arena\nCLIENTS 1; Sam\n");
    // The poll after the one given up comes at the usual pause, not when the
    // fallback timer runs out.
    lookOut watcher(nullptr, optionsFor(lobby, 50, 120000));
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);

    QTRY_COMPARE_WITH_TIMEOUT(lobby.connectedAt.size(), 4, 60000);
    QCOMPARE(important.count(), 1);
    QCOMPARE(ordinary.count(), 0);
}

QTEST_GUILESS_MAIN(tst_pollcycle)
#include "tst_pollcycle.moc"
