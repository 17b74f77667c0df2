#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

// The real program, copied into a folder of its own with a watch list beside
// it, against the real lobby at the address and port the program was built for.
class tst_endtoend : public QObject
{
    Q_OBJECT

private slots:
    void tracesOfOnePoll();
};

void tst_endtoend::tracesOfOnePoll()
{
    QTemporaryDir home;
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(home.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const QString program = home.filePath(u"lookout"_s);
    QVERIFY(QFile::copy(QStringLiteral(LOOKOUT_EXE), program));
    QVERIFY(write(u"list.cfg"_s,
        "# watched\nLIST += Sam\nLIST += [ab]\nLIST += Big Tom\nlist += Kira\nLIST += Zo\xeb\n"));
    QVERIFY(QDir(home.path()).mkdir(u"reports"_s));
    QVERIFY(write(u"reports/1.txt"_s,
        "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tKira\t[AB]Mira\n"
        "SERVER 2; 10.0.0.2:27960 \xd0\x9a\xd1\x80\xd0\xb5\xd0\xbf\xd0\xbe\xd1\x81\xd1\x82\xd1\x8c\n"
        "CLIENTS 2; Big Tom\tZo\xc3\xab\n"
        "SERVER 3; 10.0.0.3:27960 Empty\n"));

    QProcess lobby;
    lobby.start(QStringLiteral(LOBBY_EXE),
        {u"--address"_s, QStringLiteral(LOOKOUT_LOBBY_ADDRESS), u"--reports"_s, home.filePath(u"reports"_s)});
    QVERIFY(lobby.waitForReadyRead(10000));
    QVERIFY(lobby.readLine().startsWith("lookout-lobby listening on " LOOKOUT_LOBBY_ADDRESS ":22000"));

    QProcess lookout;
    lookout.setWorkingDirectory(QDir::tempPath()); // not the program's own folder
    // Line-buffered, so the traces can be waited for while the program runs.
    lookout.start(u"stdbuf"_s, {u"-oL"_s, program});
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += lookout.readAllStandardOutput()).contains("disconnected\n"), 20000);

    ::kill(pid_t(lookout.processId()), SIGTERM);
    QVERIFY(lookout.waitForFinished(10000));
    out += lookout.readAllStandardOutput();
    QCOMPARE(lookout.exitStatus(), QProcess::NormalExit);
    QCOMPARE(lookout.exitCode(), 0);
    QCOMPARE(out,
        "connected\nSam on Arena\n[AB]Mira on Arena\nBig Tom on ????????\nZo\xeb on ????????\ndisconnected\n"_ba);
    lobby.kill();
    lobby.waitForFinished();
}

QTEST_GUILESS_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
