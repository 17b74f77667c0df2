#include "reference.h"
#include "support.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using Answer = ScriptedLobby::Answer;

namespace {

// Whatever a lobby sends, the watcher holds no more than this much more
// memory while it reads and compares the answer.
constexpr qint64 memoryBound = 100 * 1024 * 1024;

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

// The watcher against lobbies that misbehave. Each case runs a good report,
// the hostile answer, then another good report twice, and checks that
// memory stayed bounded, that every notice told what the QRegExp reference
// reading tells of the same answers, and that no name brought markup.
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
    // Who the hostile answer really reports, or null when it is no report
    // and must not be compared at all.
    QTest::addColumn<QByteArray>("reported");

    const QByteArray noReport;
    const auto send = [](const QByteArray &bytes) { return Answer{{bytes}}; };

    QTest::newRow("a line that never ends") << Answer{
        QList<QByteArray>{"SERVER 1; a Arena\nCLIENTS 2; Sam\tKi"}
            + QList<QByteArray>(20, QByteArray(64 * 1024, 'x')),
        Answer::Hang} << noReport;
    QTest::newRow("a reset in the middle of a line")
        << Answer{{"SERVER 1; a Arena\nCLIENTS 2; Sam\tKi"}, Answer::Reset} << noReport;
    QTest::newRow("a reset in the middle of the first line") << Answer{{"SERV"}, Answer::Reset} << noReport;
    // The lobby emptied: everyone left, and they come back after it.
    QTest::newRow("accepted and closed at once") << Answer{} << ""_ba;
    const QByteArray random = randomBytes(1024 * 1024, 7);
    QTest::newRow("random binary data") << send(random) << random;
    const QByteArray goodStart = before + randomBytes(512 * 1024, 8);
    QTest::newRow("random binary data after a good start") << send(goodStart) << goodStart;

    const QByteArray badUtf8 = before
        + "SERVER 3; c Ca\xffstle\n" // fails: the players below stay on Castle
          "CLIENTS 3; S\xc1\xa1m\tKi\xedra\tSa\xffm\n" // an overlong "a" is no "a"
          "SERVER 4; d \xed\xa0\x80\n" // a surrogate is no word
          "CLIENTS 1; \xf4\x90\x80\x80Sam\n" // past U+10FFFF
          "CLIENTS 1; [A\xc2\x80"
          "B]Zed\n"; // a C1 control splits the tag
    QTest::newRow("invalid UTF-8") << send(badUtf8) << badUtf8;

    const QByteArray nuls = "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tNobody\t[AB]Kira\n"
                            "CLIENTS 1; Sam\0\n"_ba // a NUL cuts the line: no line feed, no line
                            "\0\0\0\0\n"_ba
                            "SERVER 2; b Cas\0tle\n"_ba // a failed server line
                            "CLIENTS 1; Kira\0\t[AB]Zed\n"_ba
                            "SERVER 2; b Castle\nCLIENTS 1; Zed\n\0"_ba; // and one after the last line
    QTest::newRow("NUL bytes") << send(nuls) << nuls;

    const QByteArray crowded = crowdedReport();
    QTest::newRow("100,000 players") << send(crowded) << crowded;
    const QByteArray markup
        = before + "SERVER 3; c Lagoon\nCLIENTS 4; <img src=x>\t&amp;\t<b>\t<img/src=x>\n";
    QTest::newRow("names made of markup") << send(markup) << markup;
}

void tst_hostile::hostileLobby()
{
    QFETCH(Answer, hostile);
    QFETCH(QByteArray, reported);

    ScriptedLobby lobby;
    lobby.script({{{before}}, hostile, {{after}}});
    WatcherSetup setup(watchListFile, &lobby);
    setup.options.nextPollDelay = 50;
    // What ends a poll that never ends; where the answer ends by itself no
    // sanitizer build is slow enough to meet it.
    setup.options.fallbackInterval = hostile.end == Answer::Hang ? 2000 : 120000;

    QList<std::pair<int, reference::Notice>> told; // with the connection each came from
    PeakMemory memory;
    const bool peakKnown = memory.start();
    {
        SilencedOutput silenced;
        lookOut watcher(nullptr, setup.options);
        connect(&watcher, &lookOut::newInfo, this, [&](const QString &text) {
            told.append({lobby.connections(), {reference::Notice::Info, text}});
        });
        connect(&watcher, &lookOut::newImportantInfo, this, [&](const QString &text) {
            told.append({lobby.connections(), {reference::Notice::Important, text}});
        });
        QTRY_VERIFY_WITH_TIMEOUT(lobby.connections() >= 4, 60000);
        // The last of them, whose answer repeats the one before, is read to its end.
        QTRY_VERIFY_WITH_TIMEOUT(watcher.state() == QAbstractSocket::UnconnectedState, 10000);
    }
    const qint64 growth = memory.growth();
    qInfo("peak memory growth %.1f MB", double(growth) / (1024 * 1024));
    if (memoryIsJudged && peakKnown)
        QVERIFY2(growth < memoryBound, qPrintable(u"resident memory grew by %1 MB"_s.arg(growth >> 20)));

    // The truth, poll by poll, and what the watcher should have said about it.
    const QStringList watched = reference::watchList(watchListFile);
    const QList<std::optional<QStringList>> truth{reference::online(before, watched),
        reported.isNull() ? std::nullopt : std::optional(reference::online(reported, watched)),
        reference::online(after, watched), reference::online(after, watched)};
    QList<std::pair<int, reference::Notice>> expected;
    QStringList last;
    for (int poll = 1; poll <= truth.size(); ++poll) {
        if (!truth[poll - 1])
            continue;
        const reference::Notice notice = reference::compare(*truth[poll - 1], last);
        if (notice.kind != reference::Notice::None)
            expected.append({poll, notice});
        last = *truth[poll - 1];
    }
    for (const auto &[connection, notice] : std::as_const(told))
        QVERIFY2(!namesIn(notice.text).contains(u'<'), qPrintable(u"markup from a name: "_s + notice.text));
    QCOMPARE(told.size(), expected.size());
    for (qsizetype i = 0; i < told.size(); ++i) {
        QCOMPARE(told[i].first, expected[i].first);
        QCOMPARE(told[i].second.kind, expected[i].second.kind);
        QCOMPARE(told[i].second.text, expected[i].second.text);
    }
}

QTEST_GUILESS_MAIN(tst_hostile)
#include "tst_hostile.moc"
