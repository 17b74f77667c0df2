#include "lookout.h"
#include "watchlist.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The watch list as the watcher reads it from list.cfg, and the rule that
// decides whether a player's name is on it.
class tst_watchlist : public QObject
{
    Q_OBJECT

private slots:
    void listFile_data();
    void listFile();
    void isIntresting_data();
    void isIntresting();
    void missingFileWatchesNobody();

private:
    // A watcher that reads `list` from a folder of its own and has no lobby to
    // talk to: nothing listens on the port it is given.
    static bool watches(const QByteArray &list, const QString &name);
};

bool tst_watchlist::watches(const QByteArray &list, const QString &name)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(u"list.cfg"_s));
    if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size())
        qFatal("cannot write list.cfg");
    file.close();

    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = 1; // refused at once
    options.folder = dir.path();
    lookOut watcher(nullptr, options);
    return watcher.isIntresting(name);
}

void tst_watchlist::listFile_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("watched");

    QTest::newRow("an entry") << "LIST += Sam\n"_ba << u"Sam"_s << true;
    QTest::newRow("an entry among comments and noise")
        << "#START\n\nLIST += Kira\nrubbish\nLIST += Sam\n#END"_ba << u"Sam"_s << true;
    QTest::newRow("a trailing space is part of the name") << "LIST += Sam \n"_ba << u"Sam "_s << true;
    QTest::newRow("... so the bare name is not watched") << "LIST += Sam \n"_ba << u"Sam"_s << false;
    QTest::newRow("inner tabs are part of the name") << "LIST += Big\tTom\n"_ba << u"Big\tTom"_s << true;
    QTest::newRow("keyword in lower case") << "list += Sam\n"_ba << u"Sam"_s << false;
    QTest::newRow("no spaces around +=") << "LIST+=Sam\n"_ba << u"Sam"_s << false;
    QTest::newRow("two spaces after +=") << "LIST +=  Sam\n"_ba << u" Sam"_s << true;
    QTest::newRow("a comment line") << "#LIST += Sam\n"_ba << u"Sam"_s << false;
    QTest::newRow("last line without a line feed") << "LIST += Kira\nLIST += Sam"_ba << u"Sam"_s << false;
    QTest::newRow("... the line before it counts") << "LIST += Kira\nLIST += Sam"_ba << u"Kira"_s << true;
    QTest::newRow("nothing after the space") << "LIST += \n"_ba << QString() << false;
    QTest::newRow("CR LF line ends") << "LIST += Kira\r\nLIST += Sam\r\n"_ba << u"Sam"_s << true;
    QTest::newRow("a lone CR is kept") << "LIST += Sam\r\r\n"_ba << u"Sam\r"_s << true;
    QTest::newRow("a NUL cuts the line") << QByteArray("LIST += Sa\0m\n", 13) << u"Sa"_s << false;
    QTest::newRow("a name in UTF-8") << "LIST += Jos\xc3\xa9\n"_ba << u"Jos\u00e9"_s << true;
    QTest::newRow("a name in Latin-1") << "LIST += Jos\xe9\n"_ba << u"Jos\u00e9"_s << true;
    QTest::newRow("a Cyrillic name in UTF-8, any case")
        << "LIST += \xd0\x94\xd0\xb8\xd0\xbc\xd0\xb0\n"_ba << u"\u0414\u0418\u041c\u0410"_s << true;
    QTest::newRow("a line that is not valid UTF-8 is Latin-1, beside one that is")
        << "LIST += Zo\xc3\xab\nLIST += Jos\xc3\n"_ba << u"Jos\u00c3"_s << true;
    QTest::newRow("a byte-order mark at the start is skipped")
        << "\xef\xbb\xbfLIST += Sam\n"_ba << u"Sam"_s << true;
    QTest::newRow("... anywhere else it is part of the line")
        << "LIST += Kira\n\xef\xbb\xbfLIST += Sam\n"_ba << u"Sam"_s << false;
    QTest::newRow("a line past the length bound is dropped, the next one read")
        << "LIST += " + QByteArray(lines::maxLineLength + 10, 'x') + "\nLIST += Sam\n"_ba << u"Sam"_s << true;
}

void tst_watchlist::listFile()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, name);
    QFETCH(bool, watched);

    QCOMPARE(watches(list, name), watched);
}

void tst_watchlist::isIntresting_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("watched");

    const auto row = [](const char *what, const QString &entry, const QString &name, bool watched) {
        QTest::addRow("%s: %s / %s", what, qPrintable(entry), qPrintable(name)) << entry << name << watched;
    };
    for (const QString &name : {u"Sam"_s, u"sam"_s, u"SAM"_s})
        row("any case", u"Sam"_s, name, true);
    for (const QString &name : {u"[AB]Sam"_s, u"[ab]sam"_s, u"x[AB]Sam"_s})
        row("the part after the tag", u"Sam"_s, name, true);
    for (const QString &name : {u"Sammy"_s, u"xSam"_s, u"Sam[AB]"_s, u"[AB]"_s})
        row("not the name", u"Sam"_s, name, false);
    for (const QString &name : {u"[AB]Sam"_s, u"[ab]Tom"_s, u"Tom[Ab]"_s, u"[AB]"_s, u"x[aB]y"_s})
        row("tag anywhere, any case", u"[AB]"_s, name, true);
    for (const QString &name : {u"AB"_s, u"[A B]"_s, u"[AB"_s})
        row("not the tag", u"[AB]"_s, name, false);
    row("a tagged entry is a plain name", u"[AB]Sam"_s, u"[AB]Sam"_s, false);
    row("the first bracket with text on both sides closes the tag", u"B]C"_s, u"[A]B]C"_s, true);
    row("empty brackets are no tag", u"[]"_s, u"x[]y"_s, false);
    row("... but a plain name", u"[]"_s, u"[]"_s, true);
    // Tags are found by case-insensitive search, plain names by lower-case
    // equality, and the two part ways for a few letters: the micro sign folds
    // to the Greek mu but does not lower-case to it.
    row("micro sign in a tag", u"[\u00b5]"_s, u"[\u039c]Sam"_s, true);
    row("micro sign in a name", u"\u00b5"_s, u"\u039c"_s, false);
    row("Kelvin sign", u"k"_s, u"\u212a"_s, true);
    row("sharp s is not ss", u"ss"_s, u"\u00df"_s, false);
}

void tst_watchlist::isIntresting()
{
    QFETCH(QString, entry);
    QFETCH(QString, name);
    QFETCH(bool, watched);

    QCOMPARE(watchlist::Matcher({u"Nobody"_s, entry}).isWatched(name), watched);
    // The watcher's own slot, as its meta-object reaches it, reads the same list.
    QCOMPARE(watches("LIST += Nobody\nLIST += " + entry.toLatin1() + "\n", name), watched);
}

void tst_watchlist::missingFileWatchesNobody()
{
    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = 1;
    options.folder = QTemporaryDir().path(); // removed again at once
    lookOut watcher(nullptr, options);
    QVERIFY(!watcher.isIntresting(u"Sam"_s));
    QVERIFY(!watcher.isIntresting(QString()));
}

QTEST_GUILESS_MAIN(tst_watchlist)
#include "tst_watchlist.moc"
