#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QRegExp>
#include <QString>
#include <QStringList>

// The QRegExp reference reading: every rule of the watcher as the QRegExp
// patterns it is documented by, used the plain way (every line decoded and
// tried against each pattern, every name against every entry of the watch
// list, the comparison as two nested loops). No code shared with watcher/,
// so the tests, the fuzzers and the benchmarks judge the watcher by
// something other than itself. Needs Qt6::Core5Compat.
namespace reference {

// QRegExp keeps the state of its last match, so each user holds its own set.
struct Patterns
{
    Patterns() { player.setMinimal(true); }

    QRegExp comment{QStringLiteral("^#.+")};
    QRegExp entry{QStringLiteral("^LIST \\+= (.+)\n$")};
    QRegExp server{QStringLiteral("^SERVER \\d+; \\S+ (\\w+)\n$")};
    QRegExp clients{QStringLiteral("^CLIENTS \\d+; (.+)\n$")};
    QRegExp player{QStringLiteral("[\t](.+)[\t]")}; // minimal
    QRegExp tagEntry{QStringLiteral("^\\[.+\\]$")};
    QRegExp tagged{QStringLiteral("\\[.+\\](.+)")};
    QRegExp presence{QStringLiteral("^(\\S+)\\s(\\S+)$")};
};

// Calls `line` with each line of `bytes` that ends in a line feed, line feed
// included, cut at a NUL (so that it lost it); a last line without one is
// never read.
template <typename Line> void forEachLine(QByteArrayView bytes, Line &&line)
{
    for (qsizetype at = 0, lf; (lf = bytes.indexOf('\n', at)) >= 0; at = lf + 1) {
        const QByteArrayView text = bytes.sliced(at, lf + 1 - at);
        const qsizetype nul = text.indexOf('\0');
        line(nul < 0 ? text : text.first(nul));
    }
}

// The entries of a list.cfg: a byte-order mark at the start skipped, a CR
// before a line feed dropped, each line UTF-8 if it reads back to the same
// bytes and Latin-1 otherwise, then the comment and entry patterns.
inline QStringList watchList(const QByteArray &file)
{
    Patterns rx;
    QStringList entries;
    forEachLine(file.startsWith("\xef\xbb\xbf") ? file.mid(3) : file, [&](QByteArrayView view) {
        QByteArray line = view.toByteArray();
        if (line.endsWith("\r\n"))
            line.remove(line.size() - 2, 1);
        const QString utf8 = QString::fromUtf8(line);
        const QString text = utf8.toUtf8() == line ? utf8 : QString::fromLatin1(line);
        if (rx.comment.indexIn(text) == -1 && rx.entry.indexIn(text) != -1)
            entries.append(rx.entry.cap(1));
    });
    return entries;
}

// Whether `name` is watched: a tag entry is looked for anywhere in the name
// in any case; any other entry is compared, in lower case, with capture 1 of
// the tagged-name pattern or, without a match, with the whole name.
inline bool isIntresting(Patterns &rx, const QString &name, const QStringList &watchList)
{
    for (const QString &w : watchList) {
        if (rx.tagEntry.indexIn(w) != -1        ? name.indexOf(w, 0, Qt::CaseInsensitive) != -1
                : rx.tagged.indexIn(name) != -1 ? rx.tagged.cap(1).toLower() == w.toLower()
                                                : name.toLower() == w.toLower())
            return true;
    }
    return false;
}

// The watched players of one report, as "<player> <server>" in report order;
// the server is empty until the first server line.
inline QStringList online(QByteArrayView report, const QStringList &watchList)
{
    Patterns rx;
    QString server;
    QStringList entries;
    forEachLine(report, [&](QByteArrayView bytes) {
        const QString line = QString::fromUtf8(bytes);
        if (rx.server.indexIn(line) != -1)
            server = rx.server.cap(1);
        if (rx.clients.indexIn(line) == -1)
            return;
        const QString list = u'\t' + rx.clients.cap(1) + u'\t';
        for (int from = 0, pos; (pos = rx.player.indexIn(list, from)) != -1; from = pos + 1) {
            const QString name = rx.player.cap(1);
            if (isIntresting(rx, name, watchList))
                entries.append(name + u' ' + server);
        }
    });
    return entries;
}

struct Notice
{
    enum Kind { None, Info, Important };
    Kind kind = None;
    QString text;
    friend bool operator==(const Notice &a, const Notice &b) { return a.kind == b.kind && a.text == b.text; }
};

// Stays and arrivals in the order of `now` (one stay per equal entry before),
// then departures in the order of `before` for entries whose player and
// server are both gone; a name or server the presence pattern cannot split
// is empty, and escaped so that it cannot bring markup. An arrival is
// important; any other change is news.
inline Notice compare(const QStringList &now, const QStringList &before)
{
    QRegExp presence = Patterns().presence;
    const auto parts = [&presence](const QString &entry) {
        return presence.indexIn(entry) == -1 ? QStringList{QString(), QString()}
                                             : presence.capturedTexts().mid(1);
    };
    const auto escaped = [](QString s) {
        return s.replace(u'&', QLatin1String("&amp;"))
            .replace(u'<', QLatin1String("&lt;"))
            .replace(u'>', QLatin1String("&gt;"))
            .replace(u'"', QLatin1String("&quot;"));
    };
    Notice notice;
    const auto line = [&](const char *colour, const QString &entry, const char *verb) {
        const QStringList who = parts(entry);
        notice.text += QStringLiteral("<font color=#%1><b>%2</b> %3 %4<br/></font>")
                           .arg(QLatin1String(colour), escaped(who[0]), QLatin1String(verb), escaped(who[1]));
    };
    bool arrival = false;
    bool differ = now != before;
    for (const QString &e : now) {
        const qsizetype equal = before.count(e);
        for (qsizetype i = 0; i < equal; ++i)
            line("000000", e, "on");
        if (equal == 0) {
            line("00aa00", e, "on");
            arrival = true;
        }
    }
    for (const QString &b : before) {
        const QStringList gone = parts(b);
        bool stayed = false;
        for (const QString &e : now)
            stayed = stayed || parts(e) == gone;
        if (!stayed) {
            line("c0c0c0", b, "left");
            differ = true;
        }
    }
    notice.kind = arrival ? Notice::Important : differ ? Notice::Info : Notice::None;
    if (notice.kind == Notice::None)
        notice.text.clear();
    return notice;
}

} // namespace reference
