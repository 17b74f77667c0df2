#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QRegExp>
#include <QString>
#include <QStringList>

#include <cstring>
#include <utility>

// The QRegExp reference reading: every rule of the watcher as the QRegExp
// patterns it is documented by, used the plain way (every line decoded and
// tried against each pattern, every name against every entry of the watch
// list, the comparison as two nested loops). No code shared with watcher/,
// so the tests, the fuzzers and the benchmarks judge the watcher by
// something other than itself. Needs Qt6::Core5Compat.
namespace reference {

// The patterns. QRegExp keeps the state of its last match, so each user
// holds its own set.
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

inline QByteArray beforeNul(QByteArray bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

// A line of list.cfg: UTF-8 if it reads back to the same bytes, else Latin-1.
inline QString listLineText(const QByteArray &bytes)
{
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.toUtf8() == bytes ? utf8 : QString::fromLatin1(bytes);
}

// The entries of a list.cfg: a byte-order mark at the start skipped, each
// line with its line feed (a CR before it dropped), cut at a NUL, then the
// comment and entry patterns.
inline QStringList watchList(const QByteArray &file)
{
    Patterns rx;
    QStringList entries;
    QByteArray bytes = file.startsWith("\xef\xbb\xbf") ? file.mid(3) : file;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype lf = bytes.indexOf('\n', at);
        const qsizetype end = lf < 0 ? bytes.size() : lf + 1;
        QByteArray line = bytes.mid(at, end - at);
        at = end;
        if (line.endsWith("\r\n"))
            line.remove(line.size() - 2, 1);
        const QString text = listLineText(beforeNul(line));
        if (rx.comment.indexIn(text) == -1 && rx.entry.indexIn(text) != -1)
            entries.append(rx.entry.cap(1));
    }
    return entries;
}

// Whether `name` is watched: a tag entry is looked for anywhere in the name
// in any case; any other entry is compared, in lower case, with capture 1 of
// the tagged-name pattern or, without a match, with the whole name.
inline bool isIntresting(Patterns &rx, const QString &name, const QStringList &watchList)
{
    bool found = false;
    for (const QString &w : watchList) {
        if (rx.tagEntry.indexIn(w) != -1)
            found = found || name.indexOf(w, 0, Qt::CaseInsensitive) != -1;
        else if (rx.tagged.indexIn(name) != -1)
            found = found || rx.tagged.cap(1).toLower() == w.toLower();
        else
            found = found || name.toLower() == w.toLower();
    }
    return found;
}

// Reads a lobby report and appends "<player> <server>" for each watched
// player, in report order. `server` carries over from report to report.
class Reader
{
public:
    void read(QByteArrayView report, const QStringList &watchList, QStringList &entries)
    {
        const char *p = report.data();
        const char *const end = p + report.size();
        while (p < end) {
            const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            const char *const stop = lf ? lf + 1 : end;
            const char *nul = static_cast<const char *>(std::memchr(p, '\0', size_t(stop - p)));
            const QString line = QString::fromUtf8(p, (nul ? nul : stop) - p);
            p = stop;
            if (!lf)
                break; // a last line without its line feed is never read
            if (m_rx.server.indexIn(line) != -1)
                m_server = m_rx.server.cap(1);
            if (m_rx.clients.indexIn(line) == -1)
                continue;
            const QString list = u'\t' + m_rx.clients.cap(1) + u'\t';
            for (int from = 0, pos; (pos = m_rx.player.indexIn(list, from)) != -1; from = pos + 1) {
                const QString name = m_rx.player.cap(1);
                if (isIntresting(m_rx, name, watchList))
                    entries.append(name + u' ' + m_server);
            }
        }
    }

private:
    Patterns m_rx;
    QString m_server;
};

// The watched players of one report, read on its own.
inline QStringList online(QByteArrayView report, const QStringList &watchList)
{
    QStringList entries;
    Reader().read(report, watchList, entries);
    return entries;
}

struct Notice
{
    enum Kind { None, Info, Important };
    Kind kind = None;
    QString text;
    friend bool operator==(const Notice &a, const Notice &b) { return a.kind == b.kind && a.text == b.text; }
};

// Player and server of an entry by the presence pattern; two empty strings
// when it does not match.
inline std::pair<QString, QString> parts(QRegExp &presence, const QString &entry)
{
    if (presence.indexIn(entry) == -1)
        return {};
    return {presence.cap(1), presence.cap(2)};
}

// Names go into the notice escaped, so that a name cannot bring markup.
inline QString escaped(QString s)
{
    return s.replace(u'&', QLatin1String("&amp;"))
        .replace(u'<', QLatin1String("&lt;"))
        .replace(u'>', QLatin1String("&gt;"))
        .replace(u'"', QLatin1String("&quot;"));
}

// Stays and arrivals in the order of `now` (one stay per equal entry before),
// then departures in the order of `before` for entries whose player and
// server are both gone. An arrival is important; any other change is news.
inline Notice compare(const QStringList &now, const QStringList &before)
{
    QRegExp presence = Patterns().presence;
    const auto line = [&presence](const char *colour, const QString &entry, const char *verb) {
        const auto who = parts(presence, entry);
        return QStringLiteral("<font color=#%1><b>%2</b> %3 %4<br/></font>")
            .arg(QLatin1String(colour), escaped(who.first), QLatin1String(verb), escaped(who.second));
    };
    Notice notice;
    bool arrival = false;
    bool differ = now != before;
    for (const QString &e : now) {
        int equal = 0;
        for (const QString &b : before)
            equal += e == b;
        for (int i = 0; i < equal; ++i)
            notice.text += line("000000", e, "on");
        if (equal == 0) {
            notice.text += line("00aa00", e, "on");
            arrival = true;
        }
    }
    for (const QString &b : before) {
        const auto gone = parts(presence, b);
        bool stayed = false;
        for (const QString &e : now)
            stayed = stayed || parts(presence, e) == gone;
        if (!stayed) {
            notice.text += line("c0c0c0", b, "left");
            differ = true;
        }
    }
    notice.kind = arrival ? Notice::Important : differ ? Notice::Info : Notice::None;
    if (notice.kind == Notice::None)
        notice.text.clear();
    return notice;
}

} // namespace reference
