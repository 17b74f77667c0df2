#include "lobbystub.h"
#include "lookout.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Reports as they come over the network, in pieces, and what the watcher
// makes of them: the traces of the players it found, in order.
class tst_report : public QObject
{
    Q_OBJECT

private slots:
    void report_data();
    void report();
};

void tst_report::report_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("found");
    QTest::addColumn<bool>("whole"); // a report the watcher compares with the previous one

    const auto row = [](const char *name, const QList<QByteArray> &pieces, const QByteArray &found,
                         bool whole = true) { QTest::newRow(name) << pieces << found << whole; };

    row("one server, one watched player", {"SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n"},
        "Sam on Arena\n");
    row("players follow their server",
        {"SERVER 1; a Arena\nCLIENTS 1; Sam\nSERVER 2; b Castle\nCLIENTS 1; [AB]Kira\tx\n"},
        "Sam on Arena\n[AB]Kira on Castle\n");
    row("a line split across packets", {"SERVER 1; a Are", "na\nCLIENTS 1; Sa", "m\tKi", "ra\n"},
        "Sam on Arena\nKira on Arena\n");
    row("a line feed alone in its packet", {"SERVER 1; a Arena", "\n", "CLIENTS 1; Sam", "\n"},
        "Sam on Arena\n");
    row("the last line without a line feed is not read, and the report is cut off",
        {"SERVER 1; a Arena\nCLIENTS 1; Sam\nCLIENTS 1; Kira"}, "Sam on Arena\n", false);
    row("a report cut off in an overlong line",
        {"SERVER 1; a Arena\nCLIENTS 1; Sam\nCLIENTS 1; " + QByteArray(lines::maxLineLength + 5, 'x')},
        "Sam on Arena\n", false);
    row("nothing but noise is no report", {"\x89PNG\r\n\x1a\n\0\xff\xfe junk\nSERVER x; a B\n"_ba}, "",
        false);
    row("nothing at all is no report", {}, "", false);
    row("CR LF: the server line fails, the CR ends the last name",
        {"SERVER 1; a Arena\r\nCLIENTS 1; Kira\tSam\r\n"}, "Kira on \n");
    row("a CR right after a name keeps it from matching", {"SERVER 1; a Arena\nCLIENTS 1; Sam\r\n"}, "");
    row("keywords in other case are ignored",
        {"SERVER 1; a Arena\nserver 2; b Castle\nClients 1; Sam\nCLIENTS 1; Kira\n"}, "Kira on Arena\n");
    row("an empty player list records nothing", {"SERVER 1; a Arena\nCLIENTS 0; \nCLIENTS 1; Sam\n"},
        "Sam on Arena\n");
    row("a tab at the end of the list changes nothing", {"SERVER 1; a Arena\nCLIENTS 1; Sam\tKira\t\n"},
        "Sam on Arena\nKira on Arena\n");
    row("doubled tabs add a name that starts with a tab", {"SERVER 1; a Arena\nCLIENTS 1; Sam\t\tKira\n"},
        "Sam on Arena\nKira on Arena\n");
    row("a tab at the start adds a name that starts with a tab", {"SERVER 1; a Arena\nCLIENTS 1; \tKira\n"},
        "Kira on Arena\n");
    row("the same player twice, and on two servers",
        {"SERVER 1; a Arena\nCLIENTS 2; Sam\tSam\nSERVER 2; b Castle\nCLIENTS 1; Sam\n"},
        "Sam on Arena\nSam on Arena\nSam on Castle\n");
    row("a server line that fails keeps the previous server",
        {"SERVER 1; a Arena\nSERVER 2; b Dust-2\nCLIENTS 1; Sam\n"}, "Sam on Arena\n");
    row("players before any server line are on no server", {"CLIENTS 1; Sam\n"}, "Sam on \n");
    row("a NUL cuts a line short", {"SERVER 1; a Arena\nCLIENTS 1; Kira"_ba + '\0' + "\nCLIENTS 1; Sam\n"_ba},
        "Sam on Arena\n");
    row("names with spaces are recorded whole", {"SERVER 1; a Arena\nCLIENTS 1; Big Tom\n"},
        "Big Tom on Arena\n");
    row("UTF-8 names and servers, traced in Latin-1", {"SERVER 1; a Крепость\nCLIENTS 1; Zo\xc3\xab\n"},
        "Zo\xeb on ????????\n");
    row("a Cyrillic server with a combining accent is a word",
        {"SERVER 1; a \xd0\x98\xcc\x86\nCLIENTS 1; Sam\n"}, "Sam on ??\n");
    row("Arabic-Indic digits are digits", {"SERVER \xd9\xa1; a Arena\nCLIENTS \xd9\xa2; Sam\n"},
        "Sam on Arena\n");
    row("a line past the length bound is dropped, the rest is read",
        {"SERVER 1; a Arena\nCLIENTS 1; Kira" + QByteArray(lines::maxLineLength, '\t') + "\n",
            "CLIENTS 1; Sam\n"},
        "Sam on Arena\n");
    row("a long line that arrives in many pieces is dropped too",
        QList<QByteArray>{"SERVER 1; a Arena\nCLIENTS 1; Kira"}
            + QList<QByteArray>(5, QByteArray(300 * 1024, 'x')) + QList<QByteArray>{"\nCLIENTS 1; Sam\n"},
        "Sam on Arena\n");

    const qsizetype most = report::Reader::maxSeats;
    const QByteArray seats = "SERVER 1; a A\nCLIENTS 1; " + QByteArray("Sam\t").repeated(most - 1) + "Sam\n";
    row("as many watched seats as a report may hold", {seats}, QByteArray("Sam on A\n").repeated(most));
    row("one watched seat more gives the report up", {seats + "CLIENTS 1; Kira\n"},
        QByteArray("Sam on A\n").repeated(most), false);
}

void tst_report::report()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, found);
    QFETCH(bool, whole);

    QTemporaryDir dir;
    QFile list(dir.filePath(u"list.cfg"_s));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("LIST += Sam\nLIST += [AB]\nLIST += Kira\nLIST += Big Tom\nLIST += Zo\xeb\n");
    list.close();

    LobbyStub lobby;
    lobby.sayInPieces(pieces);
    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = lobby.serverPort();
    options.folder = dir.path();

    CapturedOutput output;
    lookOut watcher(nullptr, options);
    QSignalSpy important(&watcher, &lookOut::newImportantInfo);
    QSignalSpy ordinary(&watcher, &lookOut::newInfo);
    QTRY_VERIFY(output.text().endsWith("disconnected\n"));

    QCOMPARE(output.text(), "connected\n" + found + "disconnected\n");
    QCOMPARE(ordinary.count(), 0);
    QCOMPARE(important.count(), whole && !found.isEmpty() ? 1 : 0);
}

QTEST_GUILESS_MAIN(tst_report)
#include "tst_report.moc"
