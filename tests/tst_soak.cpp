#include "reference.h"
#include "simulation.h"
#include "support.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// The real watcher against the lobby simulation for thousands of polls, a
// few milliseconds apart: every notice is checked against one worked out
// independently from the report that was served, and memory must not creep.
class tst_soak : public QObject
{
    Q_OBJECT

private slots:
    void everyPollAgainstTheSimulation();
};

void tst_soak::everyPollAgainstTheSimulation()
{
    // LOOKOUT_SOAK_POLLS changes the length of the run, for a slower build or
    // a longer soak; memory is measured over the last nine tenths.
    const int polls = qEnvironmentVariableIsSet("LOOKOUT_SOAK_POLLS")
        ? qEnvironmentVariableIntValue("LOOKOUT_SOAK_POLLS")
        : 10000;
    QVERIFY(polls >= 10);
    const int settled = polls / 10;

    LobbySimulation simulation(20261208, 20, 150, 0.05);
    // The simulation's own sample, plus entries that catch the names a
    // notice must escape or cannot split, in another case than the lobby's.
    const QByteArray listFile = simulation.sampleWatchList(10, 4)
        + "LIST += <B>REX</B>\nLIST += tom & jerry\nLIST += KIRA'S\nLIST += [gg]\n";
    const QStringList entries = reference::watchList(listFile);

    // What the current poll should tell, and whether it has.
    reference::Notice expected;
    bool told = false;
    QStringList onlineBefore;
    int wrong = 0;
    QStringList firstWrong; // kept short: the run's memory is measured
    const auto fault = [&](int connection, const QString &what) {
        if (++wrong <= 3)
            firstWrong.append(u"poll %1: %2"_s.arg(connection).arg(what));
    };
    int important = 0;
    int ordinary = 0;
    int finished = 0;
    qint64 memoryAtSettled = 0;
    qint64 memoryAtEnd = 0;

    ScriptedLobby lobby;
    QVERIFY(lobby.isListening());
    QEventLoop loop;
    lobby.answerFor = [&](int connection) {
        const QByteArray report = simulation.report();
        simulation.advance();
        // Everything the previous poll should have said, it has said by now.
        if (connection > 1 && expected.kind != reference::Notice::None && !told)
            fault(connection - 1, u"no notice, expected "_s + expected.text);
        finished = connection - 1;
        if (connection == settled + 1)
            memoryAtSettled = statusBytes("VmRSS:");
        if (connection == polls + 1)
            memoryAtEnd = statusBytes("VmRSS:");

        const QStringList online = reference::online(report, entries);
        expected = reference::compare(online, onlineBefore);
        told = false;
        onlineBefore = online;
        if (finished >= polls)
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
        return ScriptedLobby::Answer{{report}};
    };

    WatcherSetup setup(listFile, &lobby);
    WatcherOptions &options = setup.options;
    options.nextPollDelay = 1;
    options.fallbackInterval = 60000; // every answer is whole: no poll should be given up

    QElapsedTimer clock;
    clock.start();
    {
        SilencedOutput silenced;
        lookOut watcher(nullptr, options);
        const auto check = [&](reference::Notice::Kind kind, const QString &text) {
            (kind == reference::Notice::Important ? important : ordinary)++;
            if (told)
                fault(lobby.connections(), u"a second notice"_s);
            else if (kind != expected.kind || text != expected.text)
                fault(lobby.connections(),
                    u"told %1 %2, expected %3 %4"_s.arg(int(kind))
                        .arg(text)
                        .arg(int(expected.kind))
                        .arg(expected.text));
            told = true;
        };
        connect(&watcher, &lookOut::newInfo, this,
            [&](const QString &text) { check(reference::Notice::Info, text); });
        connect(&watcher, &lookOut::newImportantInfo, this,
            [&](const QString &text) { check(reference::Notice::Important, text); });
        // Not QTRY_VERIFY: it sleeps 10 ms between its looks, longer than a poll takes.
        QTimer::singleShot(30 * 60 * 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QVERIFY2(finished >= polls, qPrintable(u"only %1 polls in half an hour"_s.arg(finished)));
    const double seconds = clock.elapsed() / 1000.0;

    qInfo("%d polls in %.1f s (%.2f ms a poll): %d important and %d ordinary notices", finished, seconds,
        seconds * 1000 / finished, important, ordinary);
    QVERIFY2(wrong == 0, qPrintable(u"%1 wrong polls, first: "_s.arg(wrong) + firstWrong.join(u"; "_s)));
    // A run in which nothing happens proves little.
    QVERIFY(important > polls / 100);
    QVERIFY(ordinary > polls / 100);

    const qint64 growth = memoryAtEnd - memoryAtSettled;
    qInfo("resident memory %.1f MB after poll %d, %+.3f MB by poll %d", memoryAtSettled / 1048576.0, settled,
        growth / 1048576.0, polls);
    if (!memoryIsJudged) {
        qInfo("resident memory is not judged under AddressSanitizer");
        return;
    }
    QVERIFY(memoryAtSettled > 0);
    QVERIFY2(growth < 1024 * 1024, qPrintable(u"resident memory grew by %1 kB"_s.arg(growth / 1024)));
}

QTEST_GUILESS_MAIN(tst_soak)
#include "tst_soak.moc"
