#include "presence.h"

#include <QTest>

using namespace Qt::StringLiterals;
using presence::Notice;

class tst_presence : public QObject
{
    Q_OBJECT

private slots:
    void compare_data();
    void compare();
};

// Both lists of entries and the notice's lines are written with "|" between
// them; a line is "=" for a stay, "+" for an arrival or "-" for a departure,
// then the player, a space and the server.
void tst_presence::compare_data()
{
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("lines");

    const auto row = [](const char *name, const char *now, const char *before, Notice::Kind kind,
                         const char *lines = "") {
        QTest::newRow(name) << QString::fromUtf8(now) << QString::fromUtf8(before) << int(kind)
                            << QString::fromUtf8(lines);
    };
    const char *both = "Sam Arena|Kira Dust_2";

    row("same entries, same order: nothing", both, both, Notice::None);
    row("same entries, other order: stay lines", "Kira Dust_2|Sam Arena", both, Notice::Info,
        "=Kira Dust_2|=Sam Arena");
    row("everyone leaves", "", both, Notice::Info, "-Sam Arena|-Kira Dust_2");
    row("one moves, one in another case is someone else: arrivals now, departures after",
        "Sam Arena|kira Dust_2|Kira Castle", both, Notice::Important,
        "=Sam Arena|+kira Dust_2|+Kira Castle|-Kira Dust_2");
    row("a stay line for each equal entry before", "Sam Arena|Sam Arena|Kira Dust_2",
        "Sam Arena|Kira Dust_2|Kira Dust_2", Notice::Info, "=Sam Arena|=Sam Arena|=Kira Dust_2|=Kira Dust_2");
    row("a name with a space shows empty, and stays while any entry cannot be split",
        "Old Tom Arena|Big Tom Castle", "Big Tom Castle|Mad Max Lagoon", Notice::Important, "+ |= ");
    row("markup in a name is shown as text", "<img/src=x> Arena|&amp;<b> Arena", "</font>\"x Arena",
        Notice::Important, "+&lt;img/src=x&gt; Arena|+&amp;amp;&lt;b&gt; Arena|-&lt;/font&gt;&quot;x Arena");
}

void tst_presence::compare()
{
    QFETCH(QString, now);
    QFETCH(QString, before);
    QFETCH(int, kind);
    QFETCH(QString, lines);

    QString text;
    for (const QString &line : lines.split(u'|', Qt::SkipEmptyParts)) {
        const qsizetype space = line.indexOf(u' ');
        text += u"<font color=#%1><b>%2</b> %3 %4<br/></font>"_s.arg(line[0] == u'=' ? u"000000"_s
                : line[0] == u'+'                                                    ? u"00aa00"_s
                                                                                     : u"c0c0c0"_s,
            line.mid(1, space - 1), line[0] == u'-' ? u"left"_s : u"on"_s, line.mid(space + 1));
    }
    const Notice notice
        = presence::compare(now.split(u'|', Qt::SkipEmptyParts), before.split(u'|', Qt::SkipEmptyParts));
    QCOMPARE(int(notice.kind), kind);
    QCOMPARE(notice.text, text);
}

QTEST_GUILESS_MAIN(tst_presence)
#include "tst_presence.moc"
