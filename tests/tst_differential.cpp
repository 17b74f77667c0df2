#include "lines.h"
#include "presence.h"
#include "reference.h"
#include "report.h"
#include "watchlist.h"

#include <QDebug>
#include <QRegExp>
#include <QTest>

#include <algorithm>
#include <functional>
#include <random>

using namespace Qt::StringLiterals;

// Each rule of the watcher must accept exactly the lines its QRegExp pattern
// does, down to QRegExp's idea of a digit, a space and a word character, so
// each is run both ways on many generated lines.

namespace {

// The characters the patterns tell apart, in groups so that rare ones turn up
// as often as plain letters do.
const QStringList controls = {u"\t"_s, u"\n"_s, u"\r"_s, QString(QChar(0)), u"\v"_s, u"\f"_s};
const QStringList spaces
    = {u" "_s, u"\u00a0"_s, u"\u2003"_s, u"\u3000"_s, u"\u0085"_s, u"\u2028"_s, u"\u2029"_s, u"\u1680"_s};
// Neither white space nor word characters, though some look like one or the other.
const QStringList oddOnes = {u"\u200b"_s, u"\u203f"_s, u"\u0001"_s, u"\u007f"_s, u"\u180e"_s, u"\U0001F600"_s,
    u"\U0001D400"_s, QString(QChar(0xd800)), QString(QChar(0xdc00))};
const QStringList punctuation
    = {u"["_s, u"]"_s, u";"_s, u"#"_s, u"+"_s, u"="_s, u":"_s, u"<"_s, u">"_s, u"&"_s, u"-"_s};
const QStringList digits
    = {u"0"_s, u"1"_s, u"2"_s, u"7"_s, u"9"_s, u"\u0660"_s, u"\u0661"_s, u"\u0665"_s, u"\u0669"_s};
const QStringList letters = {u"a"_s, u"b"_s, u"k"_s, u"s"_s, u"i"_s, u"A"_s, u"B"_s, u"K"_s, u"S"_s, u"I"_s,
    u"_"_s, u"\u00e9"_s, u"\u00d8"_s, u"\u00df"_s, u"\u0140"_s, u"\u0414"_s, u"\u0436"_s, u"\u03b1"_s,
    u"\u03a9"_s, u"\u4e2d"_s};
// Word characters that are not digits: other numbers and combining marks.
const QStringList wordOnly = {u"\u00b2"_s, u"\u2167"_s, u"\u0301"_s, u"\u0308"_s};
const QStringList trickyCase = {u"\u0130"_s, u"\u0131"_s, u"\u017f"_s, u"\u212a"_s, u"\ufb00"_s, u"\u03c2"_s,
    u"\u03c3"_s, u"\u03a3"_s, u"\u01c5"_s};
const QStringList tags = {u"[AB]"_s, u"[ab]"_s, u"["_s, u"[]"_s, u"[x]y"_s, u"[ ]"_s, u"[\u212a]"_s};

using Groups = QList<const QStringList *>;
const Groups anyGroup
    = {&controls, &spaces, &oddOnes, &punctuation, &digits, &letters, &wordOnly, &trickyCase};
const Groups wordGroups = {&digits, &letters, &letters, &wordOnly, &trickyCase};
const Groups nonSpaceGroups = {&oddOnes, &punctuation, &digits, &letters, &wordOnly, &trickyCase};

// std::mt19937 is fully specified, the standard distributions are not.
struct Random
{
    std::mt19937 engine;

    int below(qsizetype n) { return int(engine() % quint32(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool percent(int p) { return below(100) < p; }
    const QString &pick(const QStringList &l) { return l.at(below(l.size())); }

    QString text(const Groups &groups, int minLength, int maxLength)
    {
        QString s;
        for (int n = between(minLength, maxLength); n > 0; --n)
            s += pick(*groups.at(below(groups.size())));
        return s;
    }

    QString anyText(int minLength, int maxLength) { return text(anyGroup, minLength, maxLength); }
    QString word() { return text(wordGroups, 1, 6); }
    QString token() { return text(nonSpaceGroups, 1, 5); }
};

QString playerName(Random &rnd)
{
    const auto tag = [&rnd] { return u'[' + rnd.text(wordGroups, 1, 3) + u']'; };
    const int shape = rnd.below(12);
    QString name = shape < 4 ? tag() + rnd.word()
        : shape == 4         ? rnd.word() + tag()
        : shape == 5         ? tag() + tag() + (rnd.percent(50) ? tag() : QString()) + rnd.word()
                             : rnd.word();
    // Brackets where a tag could end or begin again.
    if (shape < 6 && rnd.percent(30))
        name.insert(rnd.below(name.size() + 1), rnd.percent(70) ? u']' : u'[');
    if (rnd.percent(15))
        name.insert(rnd.below(name.size() + 1), rnd.percent(50) ? u" "_s : rnd.token());
    return name;
}

QString playerList(Random &rnd)
{
    QStringList names;
    for (int n = rnd.between(1, 5); n > 0; --n)
        names.append(playerName(rnd));
    QString list = names.join(u'\t');
    if (rnd.percent(20))
        list.insert(rnd.below(list.size() + 1), u'\t');
    return list;
}

QString caseOf(Random &rnd, const QString &s)
{
    const int which = rnd.below(3);
    return which == 0 ? s.toUpper() : which == 1 ? s.toLower() : s;
}

// A watch list with a fair chance of naming `name`: the name or its parts in
// another case, the usual tags, tricky letters and other players' names.
QStringList watchListFor(const QString &name, Random &rnd)
{
    const qsizetype open = name.indexOf(u'[');
    const qsizetype close = open < 0 ? -1 : name.indexOf(u']', open);
    QStringList list;
    for (int n = rnd.between(1, 6); n > 0; --n) {
        const int kind = rnd.below(10);
        if (kind < 2)
            list.append(caseOf(rnd, name));
        else if (kind < 4 && close > open)
            list.append(
                caseOf(rnd, rnd.percent(50) ? name.mid(close + 1) : name.mid(open, close - open + 1)));
        else if (kind < 6)
            list.append(rnd.pick(tags));
        else if (kind < 7)
            list.append(rnd.text({&trickyCase, &letters}, 1, 3));
        else
            list.append(playerName(rnd));
    }
    return list;
}

// The ways a line goes wrong, or nearly so: the slips of a hand-edited file, a
// server that changed its output, a line cut short.
QString mutated(QString s, Random &rnd)
{
    for (int n = rnd.percent(70) ? 1 : 2; n > 0; --n) {
        const int at = rnd.below(s.size() + 1);
        const qsizetype space = s.indexOf(u' ', rnd.below(s.size() + 1));
        const int slip = rnd.below(12);
        if (((slip == 4 || slip == 5 || slip == 11) && space < 0)
            || ((slip == 6 || slip == 7) && !s.endsWith(u'\n')))
            continue; // a slip at a space or at the final line feed, and there is none
        switch (slip) {
        case 0: s.insert(at, rnd.anyText(1, 1)); break;
        case 1: s.remove(at, 1); break;
        case 2: s.replace(at, 1, rnd.anyText(1, 1)); break;
        case 3: { // a keyword's case: the first letter that has another one
            const auto c
                = std::find_if(s.begin(), s.end(), [](QChar ch) { return ch.isUpper() || ch.isLower(); });
            if (c != s.end())
                *c = c->isUpper() ? c->toLower() : c->toUpper();
            break;
        }
        case 4: s.insert(space, u' '); break;
        case 5: s.remove(space, 1); break;
        case 6: s.insert(s.size() - 1, u'\r'); break;
        case 7: s.chop(1); break;
        case 8: s.insert(at, QChar(0)); break;
        case 9: s.insert(at, u'\n'); break;
        case 10: s.insert(at, u'\t'); break;
        case 11: s[space] = rnd.pick(spaces).front(); break;
        }
    }
    return s;
}

struct Case
{
    QString input;
    QStringList list; // the watch list, for watched names only
};

QStringList captures(QRegExp &rx, const QString &s)
{
    return rx.indexIn(s) == -1 ? QStringList() : rx.capturedTexts().mid(1);
}

template <typename T> QStringList found(const std::optional<T> &v)
{
    return v ? QStringList{QStringView(*v).toString()} : QStringList();
}

// A rule: its answer on a case by the QRegExp reference reading and by the
// watcher, as a list of strings (nothing for no match, the captures
// otherwise, one empty string for a comment, which no capture is), and a
// well-formed case.
struct Rule
{
    const char *name;
    int validPercent; // of the well-formed cases that must match
    int matchSize; // the answer's size from which a case counts as matched
    bool watchList; // a watch list with each case, both read as the watcher reads them
    std::function<QStringList(reference::Patterns &, const Case &)> reference;
    std::function<QStringList(const Case &)> watcher;
    std::function<void(Random &, Case &)> wellFormed;
};

const QStringList watched = {u"watched"_s};
const QStringList comment = {QString()};
const QStringList separators = spaces + QStringList{u"\t"_s, u"\n"_s, u"\r"_s, u"\v"_s, u"\f"_s};

const Rule rules[] = {
    {"watch-list line", 100, 1, false,
        [](reference::Patterns &rx, const Case &c) {
            return rx.comment.indexIn(c.input) != -1 ? comment : captures(rx.entry, c.input);
        },
        [](const Case &c) {
            return lines::isComment(c.input) ? comment : found(watchlist::entryName(c.input));
        },
        [](Random &rnd, Case &c) {
            c.input
                = rnd.percent(25) ? u'#' + rnd.anyText(1, 10) : u"LIST += "_s + rnd.anyText(1, 12) + u'\n';
        }},
    {"server line", 100, 1, false,
        [](reference::Patterns &rx, const Case &c) { return captures(rx.server, c.input); },
        [](const Case &c) { return found(report::serverName(c.input)); },
        [](Random &rnd, Case &c) {
            c.input = u"SERVER "_s + rnd.text({&digits}, 1, 4) + u"; "_s + rnd.token() + u' ' + rnd.word()
                + u'\n';
        }},
    {"clients line", 100, 1, false,
        [](reference::Patterns &rx, const Case &c) { return captures(rx.clients, c.input); },
        [](const Case &c) { return found(report::playerList(c.input)); },
        [](Random &rnd, Case &c) {
            c.input = u"CLIENTS "_s + rnd.text({&digits}, 1, 4) + u"; "_s + playerList(rnd) + u'\n';
        }},
    // A player list counts as matched only when it was really split.
    {"player names", 50, 2, false,
        [](reference::Patterns &rx, const Case &c) {
            const QString padded = u'\t' + c.input + u'\t';
            QStringList names;
            for (int p = 0, pos; (pos = rx.player.indexIn(padded, p)) != -1; p = pos + 1)
                names.append(rx.player.cap(1));
            return names;
        },
        [](const Case &c) {
            QStringList names;
            report::forEachPlayer(c.input, [&names](QStringView name) { names.append(name.toString()); });
            return names;
        },
        [](Random &rnd, Case &c) { c.input = playerList(rnd); }},
    {"watched name", 25, 1, true,
        [](reference::Patterns &rx, const Case &c) {
            return reference::isIntresting(rx, c.input, c.list) ? watched : QStringList();
        },
        [](const Case &c) { return watchlist::Matcher(c.list).isWatched(c.input) ? watched : QStringList(); },
        [](Random &rnd, Case &c) {
            c.input = playerName(rnd);
            c.list = watchListFor(c.input, rnd);
        }},
    {"presence split", 100, 1, false,
        [](reference::Patterns &rx, const Case &c) { return captures(rx.presence, c.input); },
        [](const Case &c) -> QStringList {
            const presence::Split who = presence::split(c.input);
            if (who.player.isEmpty() && who.server.isEmpty())
                return QStringList();
            return QStringList{who.player.toString(), who.server.toString()};
        },
        [](Random &rnd, Case &c) { c.input = rnd.token() + rnd.pick(separators) + rnd.token(); }},
};

enum Mode { RandomText, WellFormed, NearMiss };

Case generated(const Rule &rule, Mode mode, Random &rnd)
{
    Case c;
    if (mode == RandomText) {
        c.input = rnd.anyText(0, 16);
        for (int n = rule.watchList ? rnd.between(1, 4) : 0; n > 0; --n)
            c.list.append(rnd.percent(30) ? rnd.pick(tags) : rnd.anyText(0, 8));
    } else {
        rule.wellFormed(rnd, c);
    }
    if (mode == NearMiss) {
        if (c.list.isEmpty() || rnd.percent(60)) {
            c.input = mutated(c.input, rnd);
        } else {
            const int k = rnd.below(c.list.size());
            c.list[k] = mutated(c.list.at(k), rnd);
        }
    }
    // Names come from the report's UTF-8, entries from list.cfg's UTF-8 or
    // Latin-1: neither holds a lone surrogate, which becomes U+FFFD here.
    if (rule.watchList) {
        c.input = QString::fromUtf8(c.input.toUtf8());
        for (QString &entry : c.list)
            entry = QString::fromUtf8(entry.toUtf8());
    }
    return c;
}

// Qt's debug stream quotes a string and escapes what is not printable.
template <typename T> QString shown(const T &value)
{
    QString text;
    QDebug(&text).nospace() << value;
    return text;
}

constexpr int casesPerRow = 20000;

} // namespace

class tst_differential : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithQRegExp_data();
    void agreesWithQRegExp();
};

void tst_differential::agreesWithQRegExp_data()
{
    QTest::addColumn<int>("rule");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("mode");

    for (int r = 0; r < int(std::size(rules)); ++r) {
        QTest::addRow("%s, random text, seed 1", rules[r].name) << r << 1u << int(RandomText);
        QTest::addRow("%s, well formed, seed 2", rules[r].name) << r << 2u << int(WellFormed);
        for (quint32 seed : {3u, 4u, 5u})
            QTest::addRow("%s, near misses, seed %u", rules[r].name, seed) << r << seed << int(NearMiss);
    }
}

void tst_differential::agreesWithQRegExp()
{
    QFETCH(int, rule);
    QFETCH(quint32, seed);
    QFETCH(int, mode);

    const Rule &r = rules[rule];
    Random rnd{std::mt19937(seed)};
    reference::Patterns rx;
    int matched = 0;
    int failures = 0;
    QStringList firstFailures;
    for (int i = 0; i < casesPerRow; ++i) {
        const Case c = generated(r, Mode(mode), rnd);
        const QStringList expected = r.reference(rx, c);
        const QStringList got = r.watcher(c);
        matched += expected.size() >= r.matchSize;
        if (got != expected && ++failures <= 10)
            firstFailures.append(u"case %1: %2 with watch list %3: QRegExp %4, ours %5"_s.arg(i).arg(
                shown(c.input), shown(c.list), shown(expected), shown(got)));
    }
    const int unmatched = casesPerRow - matched;
    qInfo("%d cases: %d matched, %d not", casesPerRow, matched, unmatched);

    QVERIFY2(failures == 0,
        qPrintable(u"%1 cases disagree, the first ones:\n"_s.arg(failures) + firstFailures.join(u'\n')));
    // Enough matches and enough rejections, or a generator that drifted could
    // pass by exercising only one side of the rule.
    if (mode == WellFormed)
        QVERIFY(matched * 100 >= casesPerRow * r.validPercent);
    if (mode == NearMiss) {
        QVERIFY(matched * 10 >= casesPerRow);
        QVERIFY(unmatched * 10 >= casesPerRow);
    }
}

QTEST_GUILESS_MAIN(tst_differential)
#include "tst_differential.moc"
