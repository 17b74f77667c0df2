#include "lines.h"
#include "presence.h"
#include "report.h"
#include "watchlist.h"

#include <QTest>

#include <random>

using namespace Qt::StringLiterals;

// The shortcuts of watcher/fastpath.h, as the matcher and the report reader
// use them: tags folded ahead of time and looked for only at a "[", names
// lower-cased one unit at a time, lines decoded into a reused buffer. Each
// must give exactly what the plain Qt call it stands for gives, and these
// cases hold them to it, the awkward letters first.
class tst_matchfold : public QObject
{
    Q_OBJECT

private slots:
    void tagSearch_data();
    void tagSearch();
    void tagSearchAtRandom_data();
    void tagSearchAtRandom();
    void lowerCaseOfEveryUnit_data();
    void lowerCaseOfEveryUnit();
    void decodingAtRandom();
};

namespace {

bool searched(const QString &name, const QString &tag)
{
    return name.indexOf(tag, 0, Qt::CaseInsensitive) >= 0;
}

const QString astralUpper = u"\U00010400"_s; // Deseret capital long I
const QString astralLower = u"\U00010428"_s; // and its small letter

} // namespace

void tst_matchfold::tagSearch_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("name");

    const auto row = [](const char *what, const QString &tag, const QString &name) {
        QTest::newRow(what) << tag << name;
    };
    row("micro sign against Greek capital mu", u"[\u00b5]"_s, u"[\u039c]x"_s);
    row("Greek capital mu against micro sign", u"[\u039c]"_s, u"[\u00b5]x"_s);
    row("Kelvin sign against k", u"[\u212a]"_s, u"x[k]"_s);
    row("k against Kelvin sign", u"[K]"_s, u"[\u212a]"_s);
    row("long s against s", u"[\u017f]"_s, u"[S]"_s);
    row("dotted capital I against i", u"[\u0130]"_s, u"[i]"_s);
    row("dotted capital I against itself", u"[\u0130]"_s, u"[\u0130]"_s);
    row("dotless i against I", u"[\u0131]"_s, u"[I]"_s);
    row("sharp s against ss", u"[\u00df]"_s, u"[ss]"_s);
    row("sharp s against capital sharp s", u"[\u00df]"_s, u"[\u1e9e]"_s);
    row("final and medial sigma", u"[\u03c2]"_s, u"[\u03a3]"_s);
    row("title-case digraph", u"[\u01c5]"_s, u"[\u01c4]"_s);
    row("astral letter in another case", u"["_s + astralUpper + u"]"_s, u"a["_s + astralLower + u"]"_s);
    row("astral letter, high half alone in the name", u"["_s + astralUpper + u"]"_s,
        u"["_s + QChar(0xd801) + u"]"_s);
    const QChar high(0xd801);
    const QChar low(0xdc00);
    row("lone low surrogate after a high one", u"["_s + low + u']', high + u"["_s + low + u']');
    row("lone high surrogate", u"["_s + high + u']', u"["_s + high + u']');
    row("tag of brackets", u"[[]]"_s, u"x[[]]y"_s);
    row("tag that is a bracket inside", u"[]]"_s, u"[]]"_s);
    row("tag longer than the name", u"[abcdef]"_s, u"[abc"_s);
    row("second bracket of the name", u"[ab]"_s, u"[x[AB]"_s);
    row("long name, long tag", u"[Wolfpack\u212a]"_s, QString(600, u'x') + u"[WOLFPACKk]"_s);
    row("long name, long tag, astral", u"[Pack"_s + astralUpper + u"]"_s,
        QString(600, u'[') + u"[pack"_s + astralLower + u"]"_s);
}

void tst_matchfold::tagSearch()
{
    QFETCH(QString, tag);
    QFETCH(QString, name);
    QCOMPARE(watchlist::Matcher({tag}).isWatched(name), searched(name, tag));
}

void tst_matchfold::tagSearchAtRandom_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("maxLength");
    QTest::newRow("short names, seed 1") << 1u << 12;
    QTest::newRow("short names, seed 2") << 2u << 12;
    QTest::newRow("names past 500 units, where Qt switches to Boyer-Moore") << 3u << 700;
}

void tst_matchfold::tagSearchAtRandom()
{
    QFETCH(quint32, seed);
    QFETCH(int, maxLength);

    const QStringList alphabet = {u"["_s, u"]"_s, u"a"_s, u"A"_s, u"k"_s, u"K"_s, u"s"_s, u"\u212a"_s,
        u"\u017f"_s, u"\u00b5"_s, u"\u039c"_s, u"\u03bc"_s, u"\u0130"_s, u"i"_s, u"\u00df"_s, astralUpper,
        astralLower, QString(QChar(0xd801)), QString(QChar(0xdc28)), u"\u03a3"_s, u"\u03c2"_s};
    std::mt19937 random(seed);
    const auto text = [&](int length) {
        QString s;
        while (s.size() < length)
            s += alphabet.at(int(random() % alphabet.size()));
        return s;
    };
    int found = 0;
    for (int i = 0; i < 20000; ++i) {
        const QString tag = u'[' + text(1 + int(random() % 6)) + u']';
        QString name = text(int(random() % maxLength));
        if (random() % 2)
            name.insert(int(random() % (name.size() + 1)), tag.toUpper());
        const bool expected = searched(name, tag);
        found += expected;
        if (watchlist::Matcher({tag}).isWatched(name) != expected)
            QFAIL(qPrintable(u"tag %1 in %2: indexOf says %3"_s.arg(tag, name).arg(expected)));
    }
    QVERIFY(found > 2000);
}

void tst_matchfold::lowerCaseOfEveryUnit_data()
{
    QTest::addColumn<bool>("afterTag");
    QTest::newRow("whole name") << false;
    QTest::newRow("name after a tag") << true;
}

void tst_matchfold::lowerCaseOfEveryUnit()
{
    QFETCH(bool, afterTag);
    const QString prefix = afterTag ? u"[T]"_s : QString();
    for (char32_t c = 0; c <= 0xffff; ++c) {
        const QString plain = u"x"_s + QChar(char16_t(c)) + u"Y"_s;
        const QString name = prefix + plain;
        // The program's own lower case: the name as a named string, the
        // part after a tag as a temporary.
        const QString lower = afterTag ? QString(plain).toLower() : plain.toLower();
        for (const QString &entry : {lower, u"x"_s + QChar(char16_t(QChar::toLower(c))) + u"y"_s}) {
            const bool expected = lower == entry.toLower();
            if (watchlist::Matcher({entry}).isWatched(name) != expected)
                QFAIL(qPrintable(u"U+%1 against %2"_s.arg(uint(c), 4, 16, QChar(u'0')).arg(entry)));
        }
    }
}

void tst_matchfold::decodingAtRandom()
{
    // Bytes that make UTF-8 go wrong in every way it can: stray and missing
    // continuations, overlong forms, surrogates, a byte order mark.
    const QByteArray pool("a\t []\xc2\xc3\xdf\xe0\xe1\xed\xef\xbb\xbf\xf0\xf4\xf5\xff\x80\x9f\xa0\x90\x8f");
    // Names that come out of broken bytes.
    const watchlist::Matcher watched({u"[\ufffd]"_s, u"\ufffd"_s, u"a\ufffd"_s, u"\ufeff"_s});
    std::mt19937 random(7);
    report::Reader reader;
    QString server;
    QStringList entries;
    QByteArray traces;
    int found = 0;
    for (int i = 0; i < 200000; ++i) {
        QByteArray text;
        for (int n = 1 + int(random() % 8); n > 0; --n)
            text += pool.at(int(random() % pool.size()));
        const bool isServer = random() % 2;
        const QByteArray line = (isServer ? "SERVER 1; t " : "CLIENTS 1; ") + text + '\n';
        const QString decoded = lines::utf8Text(line);

        QStringList expected;
        const auto list = report::playerList(decoded);
        const auto name = report::serverName(decoded);
        if (list) {
            report::forEachPlayer(*list, [&](QStringView player) {
                if (watched.isWatched(player))
                    expected.append(presence::entry(player, server));
            });
        }
        entries.clear();
        const QString before = server;
        const bool recognised = reader.readLine(line, watched, server, entries, traces);
        found += entries.size();
        if (recognised != (isServer ? name.has_value() : list.has_value()) || entries != expected
            || (isServer && name && server != *name) || (!(isServer && name) && server != before))
            QFAIL(qPrintable(u"line %1"_s.arg(QString::fromLatin1(line.toHex()))));
    }
    QVERIFY(found > 1000);
}

QTEST_GUILESS_MAIN(tst_matchfold)
#include "tst_matchfold.moc"
