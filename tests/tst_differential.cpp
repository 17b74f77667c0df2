#include "lines.h"
#include "presence.h"
#include "reference.h"
#include "report.h"
#include "watchlist.h"

#include <QDebug>
#include <QRegExp>
#include <QTest>

#include <random>

using namespace Qt::StringLiterals;

// The line formats and the name comparison are documented as QRegExp
// patterns. The watcher's scanners must accept exactly the same lines, down
// to QRegExp's idea of a digit, a space and a word character, so each rule is
// run here both ways on many generated lines.

namespace {

enum class Rule { WatchListLine, ServerLine, ClientsLine, PlayerNames, WatchedName, PresenceSplit };
enum class Mode { Random, Valid, NearMiss };

struct RuleInfo
{
    const char *name;
    int validPercent; // how many well-formed cases must match
};
constexpr RuleInfo rules[] = {{"watch-list line", 100}, {"server line", 100}, {"clients line", 100},
    {"player names", 50}, {"watched name", 25}, {"presence split", 100}};

const RuleInfo &info(Rule rule)
{
    return rules[int(rule)];
}

// Every rule's answer as a list of strings, so that one comparison serves all:
// nothing for no match, the captures otherwise.
const QStringList watched = {u"watched"_s};

// The QRegExp reference reading of each rule, as its answer on one string.
class Reference
{
public:
    QStringList outcome(Rule rule, const QString &s, const QStringList &list)
    {
        switch (rule) {
        case Rule::WatchListLine:
            if (m_rx.comment.indexIn(s) != -1)
                return {u"comment"_s};
            return captures(m_rx.entry, s, {u"entry"_s});
        case Rule::ServerLine: return captures(m_rx.server, s);
        case Rule::ClientsLine: return captures(m_rx.clients, s);
        case Rule::PlayerNames: {
            const QString padded = u'\t' + s + u'\t';
            QStringList names;
            for (int p = 0, pos; (pos = m_rx.player.indexIn(padded, p)) != -1; p = pos + 1)
                names.append(m_rx.player.cap(1));
            return names;
        }
        case Rule::WatchedName: return reference::isIntresting(m_rx, s, list) ? watched : QStringList();
        case Rule::PresenceSplit: return captures(m_rx.presence, s);
        }
        return {};
    }

private:
    static QStringList captures(QRegExp &rx, const QString &s, QStringList head = {})
    {
        if (rx.indexIn(s) == -1)
            return {};
        return head + rx.capturedTexts().mid(1);
    }

    reference::Patterns m_rx;
};

QStringList ourOutcome(Rule rule, const QString &s, const QStringList &list)
{
    const auto one
        = [](std::optional<QStringView> v) { return v ? QStringList{v->toString()} : QStringList(); };
    switch (rule) {
    case Rule::WatchListLine:
        if (lines::isComment(s))
            return {u"comment"_s};
        if (const std::optional<QString> name = watchlist::entryName(s))
            return {u"entry"_s, *name};
        return {};
    case Rule::ServerLine: return one(report::serverName(s));
    case Rule::ClientsLine: return one(report::playerList(s));
    case Rule::PlayerNames: {
        QStringList names;
        report::forEachPlayer(s, [&names](QStringView name) { names.append(name.toString()); });
        return names;
    }
    case Rule::WatchedName: return watchlist::Matcher(list).isWatched(s) ? watched : QStringList();
    case Rule::PresenceSplit: {
        const presence::Split who = presence::split(s);
        if (who.player.isEmpty() && who.server.isEmpty())
            return {};
        return {who.player.toString(), who.server.toString()};
    }
    }
    return {};
}

// Qt's debug stream quotes a string and escapes what is not printable.
template <typename T> QString shown(const T &value)
{
    QString text;
    QDebug(&text).nospace() << value;
    return text;
}

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

// The same seed gives the same cases everywhere: std::mt19937 is fully
// specified, the standard distributions are not.
class Random
{
public:
    explicit Random(quint32 seed)
        : m_engine(seed)
    {
    }

    int below(qsizetype n) { return int(m_engine() % quint32(n)); }
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
    QString number() { return text({&digits}, 1, 4); }

private:
    std::mt19937 m_engine;
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
        switch (rnd.below(12)) {
        case 0: s.insert(at, rnd.anyText(1, 1)); break;
        case 1: s.remove(at, 1); break;
        case 2: s.replace(at, 1, rnd.anyText(1, 1)); break;
        case 3:
            // A keyword's case: the first letter that has another one.
            for (QChar &c : s) {
                if (c.isUpper() || c.isLower()) {
                    c = c.isUpper() ? c.toLower() : c.toUpper();
                    break;
                }
            }
            break;
        case 4:
            if (space >= 0)
                s.insert(space, u' ');
            break;
        case 5:
            if (space >= 0)
                s.remove(space, 1);
            break;
        case 6:
            if (s.endsWith(u'\n'))
                s.insert(s.size() - 1, u'\r');
            break;
        case 7:
            if (s.endsWith(u'\n'))
                s.chop(1);
            break;
        case 8: s.insert(at, QChar(0)); break;
        case 9: s.insert(at, u'\n'); break;
        case 10: s.insert(at, u'\t'); break;
        case 11:
            if (space >= 0)
                s[space] = rnd.pick(spaces).front();
            break;
        }
    }
    return s;
}

struct Case
{
    QString input;
    QStringList list; // the watch list, for watched names only
};

Case generated(Rule rule, Mode mode, Random &rnd)
{
    Case c;
    if (mode == Mode::Random) {
        c.input = rnd.anyText(0, 16);
        if (rule == Rule::WatchedName) {
            for (int n = rnd.between(1, 4); n > 0; --n)
                c.list.append(rnd.percent(30) ? rnd.pick(tags) : rnd.anyText(0, 8));
        }
        return c;
    }
    static const QStringList separators = spaces + QStringList{u"\t"_s, u"\n"_s, u"\r"_s, u"\v"_s, u"\f"_s};
    switch (rule) {
    case Rule::WatchListLine:
        c.input = rnd.percent(25) ? u'#' + rnd.anyText(1, 10) : u"LIST += "_s + rnd.anyText(1, 12) + u'\n';
        break;
    case Rule::ServerLine:
        c.input = u"SERVER "_s + rnd.number() + u"; "_s + rnd.token() + u' ' + rnd.word() + u'\n';
        break;
    case Rule::ClientsLine: c.input = u"CLIENTS "_s + rnd.number() + u"; "_s + playerList(rnd) + u'\n'; break;
    case Rule::PlayerNames: c.input = playerList(rnd); break;
    case Rule::WatchedName:
        c.input = playerName(rnd);
        c.list = watchListFor(c.input, rnd);
        break;
    case Rule::PresenceSplit: c.input = rnd.token() + rnd.pick(separators) + rnd.token(); break;
    }
    if (mode == Mode::NearMiss) {
        if (c.list.isEmpty() || rnd.percent(60)) {
            c.input = mutated(c.input, rnd);
        } else {
            const int k = rnd.below(c.list.size());
            c.list[k] = mutated(c.list.at(k), rnd);
        }
    }
    return c;
}

// A name and a watch list as the watcher gets them: names decoded from the
// report's UTF-8, entries from list.cfg's UTF-8 or Latin-1. Neither holds a
// lone surrogate, which becomes U+FFFD here as it would there.
Case asRead(Case c)
{
    c.input = QString::fromUtf8(c.input.toUtf8());
    for (QString &entry : c.list)
        entry = QString::fromUtf8(entry.toUtf8());
    return c;
}

constexpr int casesPerRow = 20000;

} // namespace

Q_DECLARE_METATYPE(Rule)
Q_DECLARE_METATYPE(Mode)

class tst_differential : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithQRegExp_data();
    void agreesWithQRegExp();
    void pinned_data();
    void pinned();
    void cleanupTestCase();

private:
    int m_cases = 0;
};

void tst_differential::agreesWithQRegExp_data()
{
    QTest::addColumn<Rule>("rule");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<Mode>("mode");

    for (Rule rule : {Rule::WatchListLine, Rule::ServerLine, Rule::ClientsLine, Rule::PlayerNames,
             Rule::WatchedName, Rule::PresenceSplit}) {
        QTest::addRow("%s, random text, seed 1", info(rule).name) << rule << 1u << Mode::Random;
        QTest::addRow("%s, well formed, seed 2", info(rule).name) << rule << 2u << Mode::Valid;
        for (quint32 seed : {3u, 4u, 5u})
            QTest::addRow("%s, near misses, seed %u", info(rule).name, seed)
                << rule << seed << Mode::NearMiss;
    }
}

void tst_differential::agreesWithQRegExp()
{
    QFETCH(Rule, rule);
    QFETCH(quint32, seed);
    QFETCH(Mode, mode);

    Random rnd(seed);
    Reference ref;
    int matched = 0;
    int failures = 0;
    QStringList firstFailures;
    // A player list counts as matched only when it was really split.
    const int matchSize = rule == Rule::PlayerNames ? 2 : 1;
    for (int i = 0; i < casesPerRow; ++i) {
        Case c = generated(rule, mode, rnd);
        if (rule == Rule::WatchedName)
            c = asRead(c);
        const QStringList expected = ref.outcome(rule, c.input, c.list);
        const QStringList got = ourOutcome(rule, c.input, c.list);
        matched += expected.size() >= matchSize;
        if (got != expected && ++failures <= 10)
            firstFailures.append(u"case %1: %2 with watch list %3: QRegExp %4, ours %5"_s.arg(i).arg(
                shown(c.input), shown(c.list), shown(expected), shown(got)));
    }
    m_cases += casesPerRow;
    const int unmatched = casesPerRow - matched;
    qInfo("%d cases: %d matched, %d not", casesPerRow, matched, unmatched);

    QVERIFY2(failures == 0,
        qPrintable(u"%1 cases disagree, the first ones:\n"_s.arg(failures) + firstFailures.join(u'\n')));
    // Enough matches and enough rejections, or a generator that drifted could
    // pass by exercising only one side of the rule.
    if (mode == Mode::Valid)
        QVERIFY(matched * 100 >= casesPerRow * info(rule).validPercent);
    if (mode == Mode::NearMiss) {
        QVERIFY(matched * 10 >= casesPerRow);
        QVERIFY(unmatched * 10 >= casesPerRow);
    }
}

void tst_differential::pinned_data()
{
    QTest::addColumn<Rule>("rule");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QStringList>("outcome");

    const auto row = [](Rule rule, const char *name, const QString &input, const QStringList &outcome,
                         const QStringList &list = {}) {
        QTest::addRow("%s: %s", info(rule).name, name) << rule << input << list << outcome;
    };
    const QStringList none;
    const QStringList comment = {u"comment"_s};
    const auto entry = [](const QString &name) { return QStringList{u"entry"_s, name}; };
    const QString nul(QChar(0));

    Rule r = Rule::WatchListLine;
    row(r, "hash and line feed make a comment", u"#\n"_s, comment);
    row(r, "hash alone is nothing", u"#"_s, none);
    row(r, "commented-out entry", u"#LIST += Sam\n"_s, comment);
    row(r, "name keeps its spaces and tabs", u"LIST += Big Tom\t \n"_s, entry(u"Big Tom\t "_s));
    row(r, "CR before LF stays in the name", u"LIST += Sam\r\n"_s, entry(u"Sam\r"_s));
    row(r, "line feed inside the name", u"LIST += Sam\nTom\n"_s, entry(u"Sam\nTom"_s));
    row(r, "NUL inside the name", u"LIST += Sa"_s + nul + u"m\n"_s, entry(u"Sa"_s + nul + u"m"_s));
    row(r, "astral name", u"LIST += \U0001F600\n"_s, entry(u"\U0001F600"_s));
    row(r, "no final line feed", u"LIST += Sam"_s, none);
    row(r, "empty name", u"LIST += \n"_s, none);
    row(r, "lower-case keyword", u"list += Sam\n"_s, none);
    row(r, "no-break space after the keyword", u"LIST\u00a0+= Sam\n"_s, none);

    r = Rule::ServerLine;
    row(r, "Cyrillic name with a combining accent is a word", u"SERVER 12; 1.2.3.4:80 \u0414\u0436\u0301\n"_s,
        {u"\u0414\u0436\u0301"_s});
    row(r, "Arabic-Indic digits are digits", u"SERVER \u0661\u0669; t Arena\n"_s, {u"Arena"_s});
    row(r, "superscript two is not a digit", u"SERVER \u00b2; t Arena\n"_s, none);
    row(r, "superscript two is a word character", u"SERVER 1; t Arena\u00b2\n"_s, {u"Arena\u00b2"_s});
    row(r, "underscore is a word character", u"SERVER 1; t big_arena\n"_s, {u"big_arena"_s});
    row(r, "other connector punctuation is not", u"SERVER 1; t big\u203farena\n"_s, none);
    row(r, "no-break space is not the separating space", u"SERVER 1; t\u00a0Arena\n"_s, none);
    row(r, "no-break space ends the token", u"SERVER 1; t\u00a0u Arena\n"_s, none);
    row(r, "CR before LF", u"SERVER 1; t Arena\r\n"_s, none);
    row(r, "NUL inside the token", u"SERVER 1; t"_s + nul + u"u Arena\n"_s, {u"Arena"_s});
    row(r, "NUL after the name", u"SERVER 1; t Arena"_s + nul + u"\n"_s, none);
    row(r, "astral character is not a word", u"SERVER 1; t \U0001D400\n"_s, none);
    row(r, "astral character inside the token", u"SERVER 1; \U0001F600 Arena\n"_s, {u"Arena"_s});
    row(r, "two spaces before the name", u"SERVER 1; t  Arena\n"_s, none);
    row(r, "line feed after the final one", u"SERVER 1; t Arena\n\n"_s, none);

    r = Rule::ClientsLine;
    row(r, "players between tabs", u"CLIENTS 2; Sam\tTom\n"_s, {u"Sam\tTom"_s});
    row(r, "Arabic-Indic count", u"CLIENTS \u0663; Sam\n"_s, {u"Sam"_s});
    row(r, "superscript count", u"CLIENTS \u00b2; Sam\n"_s, none);
    row(r, "CR before LF stays in the list", u"CLIENTS 1; Sam\r\n"_s, {u"Sam\r"_s});
    row(r, "line feed as the whole list", u"CLIENTS 1; \n\n"_s, {u"\n"_s});
    row(r, "NUL inside the list", u"CLIENTS 1; Sa"_s + nul + u"m\n"_s, {u"Sa"_s + nul + u"m"_s});
    row(r, "empty list", u"CLIENTS 1; \n"_s, none);

    r = Rule::PlayerNames;
    row(r, "names between single tabs", u"Sam\tTom\tZo\u00eb"_s, {u"Sam"_s, u"Tom"_s, u"Zo\u00eb"_s});
    row(r, "empty list", QString(), none);
    row(r, "two tabs in a row", u"Sam\t\tTom"_s, {u"Sam"_s, u"\tTom"_s, u"Tom"_s});
    row(r, "tab first", u"\tSam"_s, {u"\tSam"_s, u"Sam"_s});
    row(r, "tab last", u"Sam\t"_s, {u"Sam"_s});
    row(r, "tab alone", u"\t"_s, {u"\t"_s});
    row(r, "astral and NUL names", u"\U0001F600\t"_s + nul, {u"\U0001F600"_s, nul});

    r = Rule::WatchedName;
    row(r, "tag anywhere, any case", u"x[ab]y"_s, watched, {u"[AB]"_s});
    row(r, "name after its tag, any case", u"[ab]\u0436oe"_s, watched, {u"\u0416OE"_s});
    row(r, "tag with nothing after it is part of the name", u"[ab]"_s, none, {u"ab"_s});
    row(r, "empty brackets are no tag", u"[]Sam"_s, none, {u"Sam"_s});
    row(r, "empty brackets as an entry are a plain name", u"[]"_s, watched, {u"[]"_s});
    row(r, "Kelvin sign folds to k in a tag", u"[k]Sam"_s, watched, {u"[\u212a]"_s});
    row(r, "long s folds to s in a tag", u"[s]Sam"_s, watched, {u"[\u017f]"_s});
    row(r, "long s is not lower-cased to s", u"\u017fam"_s, none, {u"sam"_s});
    row(r, "dotted capital I lower-cases to i and a dot", u"\u0130van"_s, watched, {u"i\u0307van"_s});
    row(r, "capital sigma lower-cases to the medial form", u"\u039f\u03a3"_s, none, {u"\u03bf\u03c2"_s});
    // Several closing brackets: the first with a character on each side of
    // it closes the tag.
    row(r, "a second tag is part of the name", u"[A][B]Sam"_s, watched, {u"[b]sam"_s});
    row(r, "... so the name without it is not watched", u"[A][B]Sam"_s, none, {u"Sam"_s});
    row(r, "three tags", u"[A][B][C]Kai"_s, watched, {u"[B][C]Kai"_s});
    row(r, "a bracket inside the name", u"[A]B]C"_s, watched, {u"b]c"_s});
    row(r, "... not only the part after it", u"[A]B]C"_s, none, {u"C"_s});
    row(r, "nested brackets", u"[[a]]b"_s, watched, {u"]B"_s});
    row(r, "a bracket right after the open one closes nothing", u"[]]x"_s, watched, {u"x"_s});
    row(r, "a bracket at the very end closes nothing", u"[a]b]"_s, watched, {u"B]"_s});
    row(r, "text before the tag", u"x[a]b]c]"_s, watched, {u"b]c]"_s});
    row(r, "astral characters compare whole", u"[x]\U0001F600"_s, watched, {u"\U0001F600"_s});

    r = Rule::PresenceSplit;
    row(r, "one space", u"Sam Arena"_s, {u"Sam"_s, u"Arena"_s});
    row(r, "no-break space", u"Sam\u00a0Arena"_s, {u"Sam"_s, u"Arena"_s});
    row(r, "ideographic space", u"Sam\u3000Arena"_s, {u"Sam"_s, u"Arena"_s});
    row(r, "next line", u"Sam\u0085Arena"_s, {u"Sam"_s, u"Arena"_s});
    row(r, "line separator", u"Sam\u2028Arena"_s, {u"Sam"_s, u"Arena"_s});
    row(r, "zero-width space is not white space", u"Sam\u200bArena"_s, none);
    row(r, "NUL is not white space", u"Sa"_s + nul + u"m Arena"_s, {u"Sa"_s + nul + u"m"_s, u"Arena"_s});
    row(r, "astral characters on both sides", u"\U0001F600 \U0001D400"_s, {u"\U0001F600"_s, u"\U0001D400"_s});
    row(r, "two spaces", u"Sam  Arena"_s, none);
    row(r, "trailing line feed", u"Sam Arena\n"_s, none);
}

// Hand-picked cases: QRegExp must give the stated outcome, so the reference
// itself is pinned, and ours must give it too.
void tst_differential::pinned()
{
    QFETCH(Rule, rule);
    QFETCH(QString, input);
    QFETCH(QStringList, list);
    QFETCH(QStringList, outcome);

    Reference ref;
    QCOMPARE(shown(ref.outcome(rule, input, list)), shown(outcome));
    QCOMPARE(shown(ourOutcome(rule, input, list)), shown(outcome));
}

void tst_differential::cleanupTestCase()
{
    qInfo("%d differential cases in all", m_cases);
}

QTEST_GUILESS_MAIN(tst_differential)
#include "tst_differential.moc"
