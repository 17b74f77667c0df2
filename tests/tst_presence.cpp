#include "presence.h"

#include <QTest>

using namespace Qt::StringLiterals;
using presence::Notice;

namespace {

QString stay(const QString &player, const QString &server)
{
    return u"<font color=#000000><b>"_s + player + u"</b> on "_s + server + u"<br/></font>"_s;
}

QString arrival(const QString &player, const QString &server)
{
    return u"<font color=#00aa00><b>"_s + player + u"</b> on "_s + server + u"<br/></font>"_s;
}

QString departure(const QString &player, const QString &server)
{
    return u"<font color=#c0c0c0><b>"_s + player + u"</b> left "_s + server + u"<br/></font>"_s;
}

} // namespace

class tst_presence : public QObject
{
    Q_OBJECT

private slots:
    void compare_data();
    void compare();
};

void tst_presence::compare_data()
{
    QTest::addColumn<QStringList>("now");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");

    const QStringList both{u"Sam Arena"_s, u"Kira Dust_2"_s};

    QTest::newRow("first poll with players: all arrive")
        << both << QStringList() << int(Notice::Important)
        << arrival(u"Sam"_s, u"Arena"_s) + arrival(u"Kira"_s, u"Dust_2"_s);
    QTest::newRow("first poll without players: nothing")
        << QStringList() << QStringList() << int(Notice::None) << QString();
    QTest::newRow("same entries, same order: nothing") << both << both << int(Notice::None) << QString();
    QTest::newRow("same entries, other order: stay lines") << QStringList{both[1],
        both[0]} << both << int(Notice::Info) << stay(u"Kira"_s, u"Dust_2"_s) + stay(u"Sam"_s, u"Arena"_s);
    QTest::newRow("one leaves") << QStringList{both[0]} << both << int(Notice::Info)
                                << stay(u"Sam"_s, u"Arena"_s) + departure(u"Kira"_s, u"Dust_2"_s);
    QTest::newRow("everyone leaves") << QStringList() << both << int(Notice::Info)
                                     << departure(u"Sam"_s, u"Arena"_s) + departure(u"Kira"_s, u"Dust_2"_s);
    QTest::newRow("one moves: arrival now, departure after")
        << QStringList{u"Sam Arena"_s, u"Kira Castle"_s} << both << int(Notice::Important)
        << stay(u"Sam"_s, u"Arena"_s) + arrival(u"Kira"_s, u"Castle"_s) + departure(u"Kira"_s, u"Dust_2"_s);
    QTest::newRow("name changed in case: gone and new")
        << QStringList{u"sam Arena"_s} << QStringList{u"Sam Arena"_s} << int(Notice::Important)
        << arrival(u"sam"_s, u"Arena"_s) + departure(u"Sam"_s, u"Arena"_s);
    QTest::newRow("twice before: two stay lines, lengths differ")
        << QStringList{u"Sam Arena"_s} << QStringList{u"Sam Arena"_s, u"Sam Arena"_s} << int(Notice::Info)
        << stay(u"Sam"_s, u"Arena"_s) + stay(u"Sam"_s, u"Arena"_s);
    QTest::newRow("twice now and twice before: four stay lines")
        << QStringList{u"Sam Arena"_s, u"Sam Arena"_s} << QStringList{u"Sam Arena"_s, u"Sam Arena"_s}
        << int(Notice::None) << QString();
    QTest::newRow("twice now, once before: two stay lines, lists differ")
        << QStringList{u"Sam Arena"_s, u"Sam Arena"_s} << QStringList{u"Sam Arena"_s} << int(Notice::Info)
        << stay(u"Sam"_s, u"Arena"_s) + stay(u"Sam"_s, u"Arena"_s);
    QTest::newRow("a name with a space shows empty, and stays while any entry cannot be split")
        << QStringList{u"Old Tom Arena"_s, u"Big Tom Castle"_s} << QStringList{u"Big Tom Castle"_s}
        << int(Notice::Important) << arrival(QString(), QString()) + stay(QString(), QString());
    QTest::newRow("markup in a name is shown as text")
        << QStringList{u"<img/src=x> Arena"_s, u"&amp;<b> Arena"_s} << QStringList() << int(Notice::Important)
        << arrival(u"&lt;img/src=x&gt;"_s, u"Arena"_s) + arrival(u"&amp;amp;&lt;b&gt;"_s, u"Arena"_s);
    QTest::newRow("markup in a departed name is shown as text")
        << QStringList() << QStringList{u"</font>\"x Arena"_s} << int(Notice::Info)
        << departure(u"&lt;/font&gt;&quot;x"_s, u"Arena"_s);
}

void tst_presence::compare()
{
    QFETCH(QStringList, now);
    QFETCH(QStringList, before);
    QFETCH(int, kind);
    QFETCH(QString, text);

    const Notice notice = presence::compare(now, before);
    QCOMPARE(int(notice.kind), kind);
    QCOMPARE(notice.text, text);
}

QTEST_GUILESS_MAIN(tst_presence)
#include "tst_presence.moc"
