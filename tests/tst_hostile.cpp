#include "reference.h"
#include "support.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using Answer = ScriptedLobby::Answer;

// The good reports every case starts and ends with. Kira moves between them,
// so the second one shows whether the watcher still compares against the
// right poll.
const QByteArray watchListFile
    = "LIST += Sam\nLIST += Kira\nLIST += [AB]\nLIST += <img src=x>\nLIST += <img/src=x>\n"
      "LIST += &amp;\nLIST += <b>\n";
const QByteArray before = "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tNobody\t[AB]Kira\n"
                          "SERVER 2; b Castle\nCLIENTS 1; Zed\n";
const QByteArray after = "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n"
                         "SERVER 2; b Castle\nCLIENTS 2; Zed\t[AB]Kira\n";

// The watcher against lobbies that misbehave: a good report, the hostile
// answer, then another good report twice. Memory stays within 100 MB and
// every notice is what the QRegExp reference reading tells of the same answers.
class tst_hostile : public QObject
{
    Q_OBJECT

private slots:
    void hostileLobby_data();
    void hostileLobby();
};

void tst_hostile::hostileLobby_data()
{
    QTest::addColumn<Answer>("hostile");
    const auto row
        = [](const char *name, const QByteArray &bytes) { QTest::newRow(name) << Answer{{bytes}}; };

    QTest::newRow("a line that never ends")
        << Answer{QList<QByteArray>{"SERVER 1; a Arena\nCLIENTS 2; Sam\tKi"}
                   + QList<QByteArray>(20, QByteArray(64 * 1024, 'x')),
               Answer::Hang};
    // The lobby emptied: everyone left, and they come back after it.
    row("accepted and closed at once", ""_ba);

    QByteArray noise(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(8).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    row("random binary data after a good start", before + noise);

    row("names made of markup, invalid UTF-8 and NUL bytes",
        before
            + "SERVER 3; c Lagoon\nCLIENTS 4; <img src=x>\t&amp;\t<b>\t<img/src=x>\n"
              "SERVER 3; c Ca\xffstle\n" // fails: the players below stay on Lagoon
              "CLIENTS 3; S\xc1\xa1m\tKi\xedra\tSa\xffm\n" // an overlong "a" is no "a"
              "SERVER 4; d \xed\xa0\x80\n" // a surrogate is no word
              "CLIENTS 1; \xf4\x90\x80\x80Sam\n" // past U+10FFFF
              "CLIENTS 1; [A\xc2\x80"
              "B]Zed\n" // a C1 control splits the tag
              "CLIENTS 1; Sam\0\n"_ba // a NUL cuts the line: no line feed, no line
              "\0\0\0\0\n"_ba
              "SERVER 2; b Cas\0tle\n"_ba
              "CLIENTS 1; Kira\0\t[AB]Zed\n"_ba
              "SERVER 2; b Castle\nCLIENTS 1; Zed\n\0"_ba); // and one after the last line

    QByteArray crowded; // 100 servers of 1,000 players, two of them watched
    for (int server = 1; server <= 100; ++server) {
        QByteArrayList names;
        for (int i = 0; i < 1000; ++i)
            names += "Player" + QByteArray::number(server * 1000 + i);
        names[500] = server == 17 ? "Sam" : server == 99 ? "[AB]Kira" : names[500];
        crowded += "SERVER 1; t S" + QByteArray::number(server) + "\nCLIENTS 1; " + names.join('\t') + '\n';
    }
    row("100,000 players", crowded);
}

void tst_hostile::hostileLobby()
{
    QFETCH(Answer, hostile);

    ScriptedLobby lobby;
    lobby.script({{{before}}, hostile, {{after}}});
    WatcherSetup setup(watchListFile, &lobby);
    setup.options.nextPollDelay = 50;
    // Out of reach: an answer that never ends must be given up by its bounds.
    setup.options.fallbackInterval = 120000;

    // Each notice as "poll, kind: text", with the poll it came after.
    const auto said = [](int poll, int kind, const QString &text) {
        return u"%1, %2: %3"_s.arg(QString::number(poll), QString::number(kind), text);
    };
    QStringList told;
    PeakMemory memory;
    const bool judged = memory.start();
    {
        CapturedOutput dropped(false);
        lookOut watcher(nullptr, setup.options);
        connect(&watcher, &lookOut::newInfo, this,
            [&](const QString &text) { told += said(lobby.connections(), reference::Notice::Info, text); });
        connect(&watcher, &lookOut::newImportantInfo, this, [&](const QString &text) {
            told += said(lobby.connections(), reference::Notice::Important, text);
        });
        QTRY_VERIFY_WITH_TIMEOUT(lobby.connections() >= 4, 60000);
        // The last of them, whose answer repeats the one before, is read to its end.
        QTRY_VERIFY_WITH_TIMEOUT(watcher.state() == QAbstractSocket::UnconnectedState, 10000);
    }
    const qint64 growth = memory.growth();
    if (judged)
        QVERIFY2(
            growth < 100 * 1024 * 1024, qPrintable(u"resident memory grew by %1 MB"_s.arg(growth >> 20)));

    const QStringList watched = reference::watchList(watchListFile);
    QStringList expected;
    QStringList last;
    int poll = 0;
    for (const QByteArray &answer : {before, hostile.pieces.join(), after, after}) {
        if (++poll == 2 && hostile.end == Answer::Hang)
            continue; // no report, not compared at all
        const QStringList now = reference::online(answer, watched);
        const reference::Notice notice = reference::compare(now, last);
        if (notice.kind != reference::Notice::None)
            expected += said(poll, notice.kind, notice.text);
        last = now;
    }
    QCOMPARE(told, expected);
}

QTEST_GUILESS_MAIN(tst_hostile)
#include "tst_hostile.moc"
