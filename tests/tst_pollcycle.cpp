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
    void pollsFollowOneAnother_data();
    void pollsFollowOneAnother();
    void unreachableLobbyIsRetriedQuietly();
};

void tst_pollcycle::pollsFollowOneAnother_data()
{
    QTest::addColumn<QList<Answer>>("answers");
    QTest::addColumn<int>("fallbackInterval");
    QTest::addColumn<QStringList>("notices"); // every one important

    const Answer sam{{"SERVER 1; a Arena\nCLIENTS 1; Sam\n"}};
    const QString samCame = u"<font color=#00aa00><b>Sam</b> on Arena<br/></font>"_s;
    // Five polls outlast the fallback timer, which every poll that ends holds off.
    QTest::newRow("each answer compared with the one before, the server line carried over")
        << QList<Answer>{sam, {{"CLIENTS 1; Sam\tKira\n"}}, {{"SERVER 2; b Castle\nCLIENTS 1; Kira\n"}}}
        << 400
        << QStringList{samCame,
               u"<font color=#000000><b>Sam</b> on Arena<br/></font><font color=#00aa00><b>Kira</b> on Arena<br/></font>"_s,
               u"<font color=#00aa00><b>Kira</b> on Castle<br/></font><font color=#c0c0c0><b>Sam</b> left "
               u"Arena<br/>"
               u"</font><font color=#c0c0c0><b>Kira</b> left Arena<br/></font>"_s};
    // Sam sits on Arena in every answer; the spoiled second one tells neither
    // that he left nor that he came again.
    QTest::newRow("a poll that hangs, ended by the fallback timer")
        << QList<Answer>{sam, {{}, Answer::Hang}, sam} << 400 << QStringList{samCame};
    // From here on the next poll must come at the usual pause, long before
    // the fallback timer.
    QTest::newRow("an answer past its size bound, given up while it comes") << QList<Answer>{sam,
        {{QByteArray("CLIENTS 1; Zed\n").repeated(report::PollReader::maxReportSize / 15 + 1)}, Answer::Hang},
        sam} << 120000 << QStringList{samCame};
    QTest::newRow("a reset right after a whole line")
        << QList<Answer>{sam, {{"SERVER 2; b Castle\nCLIENTS 1; Kira\n"}, Answer::Reset}, sam} << 120000
        << QStringList{samCame};
    QTest::newRow("closed in order in the middle of a line")
        << QList<Answer>{sam, {{"SERVER 2; b Castle\nCLIENTS 1; Ki"}}, sam} << 120000 << QStringList{samCame};
}

void tst_pollcycle::pollsFollowOneAnother()
{
    QFETCH(QList<Answer>, answers);
    QFETCH(int, fallbackInterval);
    QFETCH(QStringList, notices);

    ScriptedLobby lobby;
    lobby.script(answers);
    WatcherSetup setup("LIST += Sam\nLIST += Kira\n", &lobby);
    setup.options.nextPollDelay = 100;
    setup.options.fallbackInterval = fallbackInterval;
    CapturedOutput output;
    lookOut watcher(nullptr, setup.options);
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);
    // The first poll starts in the constructor.
    QCOMPARE(output.text(), "connected\n"_ba);

    QTRY_COMPARE_WITH_TIMEOUT(lobby.connections(), 6, 30000);
    QStringList told;
    for (const QList<QVariant> &notice : std::as_const(important))
        told.append(notice.at(0).toString());
    QCOMPARE(told, notices);
    QCOMPARE(ordinary.count(), 0);
    // One chain of polls, each the pause after the one before.
    for (int i = 1; i < lobby.connections(); ++i)
        QVERIFY2(lobby.connectedAt[i] - lobby.connectedAt[i - 1] >= 100, "a poll came too early");
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

QTEST_GUILESS_MAIN(tst_pollcycle)
#include "tst_pollcycle.moc"
