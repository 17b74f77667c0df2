#include "lines.h"
#include "support.h"

#include <QTest>

using namespace Qt::StringLiterals;

// list.cfg as the watcher reads it, asked through the watcher's slot; the
// line and name rules themselves are tst_differential's.
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
    QTest::addColumn<QStringList>("watched");
    QTest::addColumn<QStringList>("unwatched");

    const auto row
        = [](const char *name, const QByteArray &list, const QStringList &watched,
              const QStringList &unwatched = {}) { QTest::newRow(name) << list << watched << unwatched; };
    row("entries among comments and noise", "#START\n\nLIST += Kira\nrubbish\nLIST += Sam\n#END"_ba,
        {u"Sam"_s, u"Kira"_s});
    row("a trailing space is part of the name", "LIST += Sam \n"_ba, {u"Sam "_s}, {u"Sam"_s});
    row("only a CR right before the line feed is dropped", "LIST += Sam\r\r\n"_ba, {u"Sam\r"_s});
    row("a NUL cuts the line, line feed and all", QByteArray("LIST += Sa\0m\n", 13), {},
        {u"Sa"_s, u"Sam"_s, u"Sa\0m"_s});
    row("each line UTF-8 or else Latin-1", "LIST += Zo\xc3\xab\nLIST += Jos\xc3\nLIST += Jos\xe9\n"_ba,
        {u"Zo\u00eb"_s, u"Jos\u00c3"_s, u"Jos\u00e9"_s});
    row("a byte-order mark is skipped only at the start",
        "\xef\xbb\xbfLIST += Sam\n\xef\xbb\xbfLIST += Kira\n"_ba, {u"Sam"_s}, {u"Kira"_s});
    // Its first piece fills the reader's buffer; the rest looks like an entry.
    row("a line past the length bound is dropped whole, and the next one read",
        "LIST += " + QByteArray(lines::maxLineLength - 7, 'x') + "LIST += Kira\nLIST += Sam\n", {u"Sam"_s},
        {u"Kira"_s});
    row("no list at all", QByteArray(), {}, {u"Sam"_s});
    row("a tag with characters outside the BMP, in any case",
        "LIST += [>\U0001F600\u0660\u00e9]\nLIST += [K\U0001F6009\u013fB\u03a3]\nLIST += [\U00010400]\n"_ba,
        {u"[>\U0001F600\u0660\u00e9]\u0131"_s, u"[k\U0001F6009\u0140B\u03c3]"_s + QChar(0) + u"b"_s,
            u"x[\U00010428]"_s},
        {u"[>\U0001F601\u0660\u00e9]"_s, u"[\U00010429]"_s});
}

void tst_watchlist::isIntresting()
{
    QFETCH(QByteArray, list);
    QFETCH(QStringList, watched);
    QFETCH(QStringList, unwatched);

    WatcherSetup setup(list);
    lookOut watcher(nullptr, setup.options);
    for (const QString &name : watched)
        QVERIFY2(watcher.isIntresting(name), qPrintable(name.toHtmlEscaped()));
    for (const QString &name : unwatched)
        QVERIFY2(!watcher.isIntresting(name), qPrintable(name.toHtmlEscaped()));
}

QTEST_GUILESS_MAIN(tst_watchlist)
#include "tst_watchlist.moc"
