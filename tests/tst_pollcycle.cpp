#include "support.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Answer = ScriptedLobby::Answer;

// When the watcher asks the lobby, what it tells after each answer, and what
// it does with polls that do not end well, with shortened intervals.
class tst_pollcycle : public QObject
{
    Q_OBJECT

private slots:
    void defaultIntervalsAreTheProgramsOwn();
    void answeredPollsFollowOneAnother();
    void unreachableLobbyIsRetriedQuietly();
    void pollsThatDoNotEndWellAreDroppedWithoutNotice_data();
    void pollsThatDoNotEndWellAreDroppedWithoutNotice();
};

void tst_pollcycle::defaultIntervalsAreTheProgramsOwn()
{
    QCOMPARE(WatcherOptions().nextPollDelay, 60000);
    QCOMPARE(WatcherOptions().fallbackInterval, 150000);
}

void tst_pollcycle::answeredPollsFollowOneAnother()
{
    ScriptedLobby lobby;
    lobby.script({{{"SERVER 1; a Arena\nCLIENTS 1; Sam\n"}}, {{"CLIENTS 1; Sam\tKira\n"}},
        {{"SERVER 2; b Castle\nCLIENTS 1; Kira\n"}}});
    WatcherSetup setup("LIST += Sam\nLIST += Kira\n", &lobby);
    setup.options.nextPollDelay = 100;
    setup.options.fallbackInterval = 1000; // held off by every poll that ends
    CapturedOutput output;
    lookOut watcher(nullptr, setup.options);
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);

    // The first poll starts in the constructor, and nothing more happens
    // before the event loop runs.
    QCOMPARE(output.text(), "connected\n"_ba);
    QVERIFY(watcher.state() != QAbstractSocket::UnconnectedState);
    QCOMPARE(lobby.connections(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(lobby.connections(), 13, 20000);
    for (int i = 1; i < lobby.connections(); ++i)
        QVERIFY2(lobby.connectedAt[i] - lobby.connectedAt[i - 1] >= 100, "a poll came too early");
    const QByteArray traces
        = "connected\nSam on Arena\ndisconnected\nconnected\nSam on Arena\nKira on Arena\n"
          "disconnected\nconnected\nKira on Castle\ndisconnected\n"_ba;
    QCOMPARE(output.text().left(traces.size()), traces);

    QCOMPARE(important.count(), 3);
    // No server line: the last one read, in the poll before, still holds.
    QCOMPARE(important.at(1).at(0).toString(),
        u"<font color=#000000><b>Sam</b> on Arena<br/></font><font color=#00aa00><b>Kira</b> on Arena<br/></font>"_s);
    QCOMPARE(important.at(2).at(0).toString(),
        u"<font color=#00aa00><b>Kira</b> on Castle<br/></font>"
        u"<font color=#c0c0c0><b>Sam</b> left Arena<br/></font><font color=#c0c0c0><b>Kira</b> left Arena<br/></font>"_s);
    QCOMPARE(ordinary.count(), 0); // the last answer repeats: nothing changes after it
}

void tst_pollcycle::unreachableLobbyIsRetriedQuietly()
{
    WatcherSetup setup("LIST += Sam\n");
    setup.options.fallbackInterval = 100;
    CapturedOutput output;
    lookOut watcher(nullptr, setup.options);
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);

    QTRY_VERIFY(output.text().count("connected\n") >= 4);
    QVERIFY(!output.text().contains("disconnected"));
    QCOMPARE(important.count() + ordinary.count(), 0);
}

void tst_pollcycle::pollsThatDoNotEndWellAreDroppedWithoutNotice_data()
{
    QTest::addColumn<Answer>("spoiled");
    QTest::addColumn<int>("fallbackInterval");

    const QByteArray castle = "SERVER 2; b Castle\nCLIENTS 1; Kira\n";
    QTest::newRow("a poll that hangs, ended by the fallback timer") << Answer{{}, Answer::Hang} << 400;
    // From here on the next poll must come at the usual pause, long before
    // the fallback timer.
    QTest::newRow("an answer past its size bound, given up while it comes") << Answer{
        {QByteArray("CLIENTS 1; Zed\n").repeated(report::PollReader::maxReportSize / 15 + 1)},
        Answer::Hang} << 120000;
    QTest::newRow("a reset right after a whole line") << Answer{{castle}, Answer::Reset} << 120000;
    QTest::newRow("closed in order in the middle of a line")
        << Answer{{"SERVER 2; b Castle\nCLIENTS 1; Ki"}} << 120000;
}

// Sam sits on Arena in every answer; the spoiled second one tells neither
// that he left nor that he came again.
void tst_pollcycle::pollsThatDoNotEndWellAreDroppedWithoutNotice()
{
    QFETCH(Answer, spoiled);
    QFETCH(int, fallbackInterval);

    ScriptedLobby lobby;
    const Answer sam{{"SERVER 1; a Arena\nCLIENTS 1; Sam\n"}};
    lobby.script({sam, spoiled, sam});
    WatcherSetup setup("LIST += Sam\nLIST += Kira\n", &lobby);
    setup.options.nextPollDelay = 50;
    setup.options.fallbackInterval = fallbackInterval;
    CapturedOutput dropped(false);
    lookOut watcher(nullptr, setup.options);
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);

    QTRY_COMPARE_WITH_TIMEOUT(lobby.connections(), 6, 30000);
    QCOMPARE(important.count(), 1);
    QCOMPARE(ordinary.count(), 0);
    // One chain of polls, not two running side by side.
    for (int i = 3; i < lobby.connections(); ++i)
        QVERIFY2(lobby.connectedAt[i] - lobby.connectedAt[i - 1] >= 50, "two chains of polls");
}

QTEST_GUILESS_MAIN(tst_pollcycle)
#include "tst_pollcycle.moc"
