#include "lines.h"
#include "support.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The watch list as the watcher reads it from list.cfg, and the rule that
// decides whether a player's name is on it, asked through the watcher's slot.
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
    row("a trailing space is part of the name", "LIST += Sam \n"_ba, u"Sam "_s, true);
    row("... so the bare name is not watched", "LIST += Sam \n"_ba, u"Sam"_s, false);
    row("inner tabs are part of the name", "LIST += Big\tTom\n"_ba, u"Big\tTom"_s, true);
    row("keyword in lower case", "list += Sam\n"_ba, u"Sam"_s, false);
    row("no spaces around +=", "LIST+=Sam\n"_ba, u"Sam"_s, false);
    row("a comment line", "#LIST += Sam\n"_ba, u"Sam"_s, false);
    row("last line without a line feed", "LIST += Kira\nLIST += Sam"_ba, u"Sam"_s, false);
    row("... the line before it counts", "LIST += Kira\nLIST += Sam"_ba, u"Kira"_s, true);
    row("nothing after the space", "LIST += \n"_ba, QString(), false);
    row("CR LF line ends", "LIST += Kira\r\nLIST += Sam\r\n"_ba, u"Sam"_s, true);
    row("a lone CR is kept", "LIST += Sam\r\r\n"_ba, u"Sam\r"_s, true);
    row("a NUL cuts the line", QByteArray("LIST += Sa\0m\n", 13), u"Sa"_s, false);
    row("a name in UTF-8", "LIST += Jos\xc3\xa9\n"_ba, u"Jos\u00e9"_s, true);
    row("a name in Latin-1", "LIST += Jos\xe9\n"_ba, u"Jos\u00e9"_s, true);
    row("a line that is not UTF-8 is Latin-1, beside one that is", "LIST += Zo\xc3\xab\nLIST += Jos\xc3\n"_ba,
        u"Jos\u00c3"_s, true);
    row("a byte-order mark at the start is skipped", "\xef\xbb\xbfLIST += Sam\n"_ba, u"Sam"_s, true);
    row("... anywhere else it is part of the line", "LIST += Kira\n\xef\xbb\xbfLIST += Sam\n"_ba, u"Sam"_s,
        false);
    row("a line past the length bound is dropped, the next one read",
        "LIST += " + QByteArray(lines::maxLineLength + 10, 'x') + "\nLIST += Sam\n", u"Sam"_s, true);
    row("no list at all", QByteArray(), u"Sam"_s, false);

    for (const QString &name : {u"Sam"_s, u"SAM"_s, u"[AB]Sam"_s, u"x[ab]sam"_s})
        row("any case, or the part after the tag", "LIST += Sam\n", name, true);
    for (const QString &name : {u"Sammy"_s, u"xSam"_s, u"Sam[AB]"_s, u"[AB]"_s})
        row("not the name", "LIST += Sam\n", name, false);
    for (const QString &name : {u"[AB]Sam"_s, u"Tom[Ab]"_s, u"[AB]"_s, u"x[aB]y"_s})
        row("tag anywhere, any case", "LIST += [AB]\n", name, true);
    for (const QString &name : {u"AB"_s, u"[A B]"_s, u"[AB"_s})
        row("not the tag", "LIST += [AB]\n", name, false);
    row("a tagged entry is a plain name", "LIST += [AB]Sam\n", u"[AB]Sam"_s, false);
    row("the first bracket with text on both sides closes the tag", "LIST += B]C\n", u"[A]B]C"_s, true);
    row("empty brackets are no tag", "LIST += []\n", u"x[]y"_s, false);
    row("... but a plain name", "LIST += []\n", u"[]"_s, true);
    // Tags are found by case-insensitive search, plain names by lower-case
    // equality, and the two part ways for a few letters: the micro sign folds
    // to the Greek mu but does not lower-case to it.
    row("micro sign in a tag", "LIST += [\xc2\xb5]\n", u"[\u039c]Sam"_s, true);
    row("micro sign in a name", "LIST += \xc2\xb5\n", u"\u039c"_s, false);
    row("sharp s is not ss", "LIST += ss\n", u"\u00df"_s, false);
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
