#include "lines.h"
#include "support.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The watch list as the watcher reads it from list.cfg, asked through the
// watcher's slot; the name rule itself is pinned in tst_differential.
class tst_watchlist : public QObject
{
    Q_OBJECT

private slots:
    void isIntresting_data();
    void isIntresting();
};

void tst_watchlist::isIntresting_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("watched");

    const auto row = [](const char *what, const QByteArray &list, const QString &name, bool watched) {
        QTest::addRow("%s: %s", what, qPrintable(name)) << list << name << watched;
    };
    row("an entry among comments and noise", "#START\n\nLIST += Kira\nrubbish\nLIST += Sam\n#END"_ba,
        u"Sam"_s, true);
    row("no entry: lower-case keyword, no spaces, commented", "list += Sam\nLIST+=Sam\n#LIST += Sam\n"_ba,
        u"Sam"_s, false);
    row("a trailing space is part of the name", "LIST += Sam \n"_ba, u"Sam "_s, true);
    row("... so the bare name is not watched", "LIST += Sam \n"_ba, u"Sam"_s, false);
    row("last line without a line feed", "LIST += Kira\nLIST += Sam"_ba, u"Sam"_s, false);
    row("... the line before it counts", "LIST += Kira\nLIST += Sam"_ba, u"Kira"_s, true);
    row("CR LF line ends", "LIST += Kira\r\nLIST += Sam\r\n"_ba, u"Sam"_s, true);
    row("a lone CR is kept", "LIST += Sam\r\r\n"_ba, u"Sam\r"_s, true);
    row("a NUL cuts the line, line feed and all", QByteArray("LIST += Sa\0m\n", 13), u"Sa"_s, false);
    row("... and what follows it", QByteArray("LIST += Sa\0m\n", 13), u"Sa\0m"_s, false);
    row("a name in Latin-1", "LIST += Jos\xe9\n"_ba, u"Jos\u00e9"_s, true);
    row("a line in UTF-8 beside one that is not", "LIST += Zo\xc3\xab\nLIST += Jos\xc3\n"_ba, u"Zo\u00eb"_s,
        true);
    row("a byte-order mark at the start is skipped", "\xef\xbb\xbfLIST += Sam\n"_ba, u"Sam"_s, true);
    row("... anywhere else it is part of the line", "LIST += Kira\n\xef\xbb\xbfLIST += Sam\n"_ba, u"Sam"_s,
        false);
    // Its first piece fills the reader's buffer; the rest looks like an entry.
    const QByteArray overlong
        = "LIST += " + QByteArray(lines::maxLineLength - 7, 'x') + "LIST += Kira\nLIST += Sam\n";
    row("a line past the length bound is dropped whole", overlong, u"Kira"_s, false);
    row("... and the next one read", overlong, u"Sam"_s, true);
    row("no list at all", QByteArray(), u"Sam"_s, false);

    row("any case, the part after the tag", "LIST += Sam\n", u"x[ab]sAM"_s, true);
    for (const QString &name : {u"Sammy"_s, u"xSam"_s, u"Sam[AB]"_s, u"[AB]"_s})
        row("not the name", "LIST += Sam\n", name, false);
    for (const QString &name : {u"AB"_s, u"[A B]"_s, u"[AB"_s})
        row("not the tag", "LIST += [AB]\n", name, false);
    row("a tagged entry is a plain name", "LIST += [AB]Sam\n", u"[AB]Sam"_s, false);
}

void tst_watchlist::isIntresting()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, name);
    QFETCH(bool, watched);

    WatcherSetup setup(list);
    lookOut watcher(nullptr, setup.options);
    QCOMPARE(watcher.isIntresting(name), watched);
}

QTEST_GUILESS_MAIN(tst_watchlist)
#include "tst_watchlist.moc"
