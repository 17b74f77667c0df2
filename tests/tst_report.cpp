#include "presence.h"
#include "report.h"

#include <QTest>

using namespace Qt::StringLiterals;
using report::PollReader;
using Verdict = PollReader::Verdict;

Q_DECLARE_METATYPE(Verdict)

// One poll's answer, in its pieces, through the reader: the traces of the
// entries found and the verdict. The line rules themselves are tst_differential's.
class tst_report : public QObject
{
    Q_OBJECT

private slots:
    void answer_data();
    void answer();
};

void tst_report::answer_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("found");
    QTest::addColumn<Verdict>("verdict");

    const auto row
        = [](const char *name, const QList<QByteArray> &pieces, const QByteArray &found,
              Verdict verdict = Verdict::Report) { QTest::newRow(name) << pieces << found << verdict; };
    const QByteArray arena = "SERVER 1; 10.0.0.1:27960 Arena\n";
    const QByteArray sam = arena + "CLIENTS 1; Sam\n";

    row("players follow their server, every seat counted; a failed server line or a NUL changes nothing",
        {"CLIENTS 1; Sam\n" + arena + "CLIENTS 3; Sam\tNobody\tSam\nSERVER 2; b Dust-2\nCLIENTS 1; Kira\n"
            + "CLIENTS 2; Sam"_ba + '\0' + "\tKira\nSERVER 3; c Castle\nCLIENTS 2; [AB]Kira\tSam\n"},
        "Sam on Before\nSam on Arena\nSam on Arena\nKira on Arena\n[AB]Kira on Castle\nSam on Castle\n");
    row("a line split across pieces", {"SERVER 1; a Are", "na\nCLIENTS 1; Sa", "m\tKi", "ra", "\n"},
        "Sam on Arena\nKira on Arena\n");
    row("UTF-8 names and servers, traced in Latin-1",
        {"SERVER 1; a \xd0\x9a\xd1\x80\xd0\xb5\xd0\xbf\xd0\xbe\xd1\x81\xd1\x82\xd1\x8c\nCLIENTS 1; "
         "Zo\xc3\xab\n"},
        "Zo\xeb on ????????\n");

    // Only an unfinished server or clients line is a cut-off; an empty lobby is a report.
    row("nothing at all is an empty lobby", {}, "");
    row("an unfinished last line of noise is not taken", {sam + "Kira"}, "Sam on Arena\n");
    row("an unfinished clients line is a cut-off", {sam + "CLIENTS 1; Kira"}, "Sam on Arena\n",
        Verdict::CutOff);
    row("an unfinished server line is a cut-off", {sam + "SERVER 2; "}, "Sam on Arena\n", Verdict::CutOff);
    row("a reset after a whole line", {sam}, "Sam on Arena\n", Verdict::Reset);

    row("a line past the length bound",
        {arena + "CLIENTS 1; Kira" + QByteArray(PollReader::maxLineLength, '\t') + "\n"}, "",
        Verdict::PastBound);
    row("an unfinished line past the length bound, in many pieces",
        QList<QByteArray>{sam + "CLIENTS 1; Kira"} + QList<QByteArray>(5, QByteArray(300 * 1024, 'x')),
        "Sam on Arena\n", Verdict::PastBound);
    const qsizetype most = PollReader::maxSeats;
    const QByteArray seats
        = "SERVER 1; a A\n" + ("CLIENTS 1; " + QByteArray("Sam\t").repeated(most - 1) + "Sam\n");
    row("as many watched seats as a report may hold", {seats}, QByteArray("Sam on A\n").repeated(most));
    row("one watched seat more", {seats + "CLIENTS 1; Kira\n"}, QByteArray("Sam on A\n").repeated(most),
        Verdict::PastBound);
    const QByteArray longName(10000, 'A');
    const qsizetype fit = PollReader::maxSeatText / (3 + 1 + longName.size());
    row("watched seats on a server with a long name",
        {"SERVER 1; a " + longName + "\nCLIENTS 1; " + QByteArray("Sam\t").repeated(fit) + "Sam\n"},
        ("Sam on " + longName + "\n").repeated(fit), Verdict::PastBound);
    QByteArray unwatched = "SERVER 1; a A\nCLIENTS 1; Nobody\n";
    unwatched = unwatched.repeated(PollReader::maxReportSize / unwatched.size() + 1);
    row("an answer past the size bound", {unwatched}, "", Verdict::PastBound);
    row("more player names than a report may hold",
        {"CLIENTS 1; " + QByteArray("a\t").repeated(PollReader::maxPlayers) + "Sam\n"}, "",
        Verdict::PastBound);
}

void tst_report::answer()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, found);
    QFETCH(Verdict, verdict);

    const watchlist::Matcher watched({u"Sam"_s, u"[AB]"_s, u"Kira"_s, u"Zo\u00eb"_s});
    PollReader reader(watched);
    reader.read("SERVER 1; a Before\n"); // the poll before names a server
    reader.start();
    QByteArray traces;
    QStringList entries;
    for (const QByteArray &piece : pieces) {
        reader.read(piece);
        const QStringList found = reader.takeEntries();
        for (const QString &entry : found)
            traces += presence::traceLine(entry);
        entries += found;
    }
    if (verdict == Verdict::Reset) // as the socket tells it
        reader.lobbyReset();
    QCOMPARE(traces, found);
    QCOMPARE(entries.join(u'\n').toLatin1() + (entries.isEmpty() ? "" : "\n"), traces.replace(" on ", " "));
    QCOMPARE(reader.verdict(), verdict);
}

QTEST_GUILESS_MAIN(tst_report)
#include "tst_report.moc"
