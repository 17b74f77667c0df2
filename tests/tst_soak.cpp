#include "reference.h"
#include "simulation.h"
#include "support.h"

#include <QEventLoop>
#include <QTest>

using namespace Qt::StringLiterals;

// The real watcher against the lobby simulation for thousands of polls a
// millisecond apart: every notice is checked against the QRegExp reference
// reading of the report served, and memory must not creep.
class tst_soak : public QObject
{
    Q_OBJECT

private slots:
    void everyPollAgainstTheSimulation();
};

void tst_soak::everyPollAgainstTheSimulation()
{
    // LOOKOUT_SOAK_POLLS sets a longer soak; memory is judged over the last
    // nine tenths.
    const int polls = qEnvironmentVariableIsSet("LOOKOUT_SOAK_POLLS")
        ? qMax(10, qEnvironmentVariableIntValue("LOOKOUT_SOAK_POLLS"))
        : 3000;
    LobbySimulation simulation(20261208, 20, 150, 0.05);
    // Entries a notice must escape or cannot split, in another case than the lobby's.
    const QByteArray listFile = simulation.sampleWatchList(10, 4)
        + "LIST += <B>REX</B>\nLIST += tom & jerry\nLIST += KIRA'S\nLIST += [gg]\n";
    const QStringList entries = reference::watchList(listFile);

    reference::Notice expected; // what the current poll should tell
    bool told = false;
    QStringList onlineBefore;
    QStringList wrong; // empty in a good run, so it leaves memory alone
    int notices[3] = {};
    PeakMemory memory;
    bool judged = false;
    qint64 growth = 0;

    ScriptedLobby lobby;
    QEventLoop loop;
    lobby.answerFor = [&](int connection) {
        // Everything the previous poll should have said, it has said by now.
        if (expected.kind != reference::Notice::None && !told)
            wrong += u"poll %1: no notice, expected %2"_s.arg(connection - 1).arg(expected.text);
        if (connection == polls / 10 + 1)
            judged = memory.start();
        if (connection == polls + 1) {
            growth = memory.growth();
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
        }
        const QByteArray report = simulation.report();
        simulation.advance();
        const QStringList online = reference::online(report, entries);
        expected = reference::compare(online, onlineBefore);
        told = false;
        onlineBefore = online;
        return ScriptedLobby::Answer{{report}};
    };

    WatcherSetup setup(listFile, &lobby);
    setup.options.nextPollDelay = 1;
    setup.options.fallbackInterval = 60000; // every answer is whole: no poll should be given up
    {
        CapturedOutput dropped(false);
        lookOut watcher(nullptr, setup.options);
        const auto check = [&](reference::Notice::Kind kind, const QString &text) {
            ++notices[kind];
            if (told || !(reference::Notice{kind, text} == expected))
                wrong += u"poll %1: told %2 %3, expected %4 %5"_s.arg(QString::number(lobby.connections()),
                    QString::number(kind), text, QString::number(expected.kind), expected.text);
            told = true;
        };
        connect(&watcher, &lookOut::newInfo, this,
            [&](const QString &text) { check(reference::Notice::Info, text); });
        connect(&watcher, &lookOut::newImportantInfo, this,
            [&](const QString &text) { check(reference::Notice::Important, text); });
        // Not QTRY_VERIFY: it sleeps 10 ms between its looks, longer than a poll takes.
        QTimer::singleShot(240 * 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QVERIFY2(
        lobby.connections() > polls, qPrintable(u"only %1 polls in four minutes"_s.arg(lobby.connections())));
    QVERIFY2(wrong.isEmpty(), qPrintable(u"%1 wrong, the first %2"_s.arg(wrong.size()).arg(wrong.value(0))));
    // A run in which nothing happens proves little.
    QVERIFY(notices[reference::Notice::Important] > polls / 100);
    QVERIFY(notices[reference::Notice::Info] > polls / 100);

    qInfo("resident memory %+.3f MB from poll %d to %d", growth / 1048576.0, polls / 10, polls);
    if (judged)
        QVERIFY2(growth < 512 * 1024, qPrintable(u"resident memory grew by %1 kB"_s.arg(growth / 1024)));
}

QTEST_GUILESS_MAIN(tst_soak)
#include "tst_soak.moc"
