#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <utility>

// What the watcher should make of a lobby, worked out the long way from the
// rules the program documents: no shared code with watcher/, nothing clever,
// so that the hostile-lobby and soak tests judge the watcher by something
// other than itself.
namespace reference {

// The entries of a list.cfg: "LIST += <name>" lines that end in a line feed.
inline QStringList watchList(const QByteArray &file)
{
    QStringList entries;
    for (const QByteArray &line : file.split('\n').mid(0, file.count('\n'))) {
        if (line.startsWith("LIST += ") && line.size() > 8)
            entries.append(QString::fromLatin1(line.mid(8)));
    }
    return entries;
}

// A bracketed entry is a clan tag, found anywhere in any case; any other
// entry is the whole name, or the part after a clan tag, in any case.
inline bool isWatched(const QStringList &entries, const QString &name)
{
    static const QRegularExpression tagged(QStringLiteral("\\[.+\\](.+)"));
    const QRegularExpressionMatch match = tagged.match(name);
    const QString untagged = match.hasMatch() ? match.captured(1) : name;
    for (const QString &entry : entries) {
        const bool isTag = entry.size() >= 3 && entry.startsWith(u'[') && entry.endsWith(u']');
        if (isTag ? name.contains(entry, Qt::CaseInsensitive) : untagged.toLower() == entry.toLower())
            return true;
    }
    return false;
}

// "<player> <server>" for each watched player of a well-formed report, in
// report order. Only for reports the test wrote or the simulation made.
inline QStringList online(const QByteArray &report, const QStringList &entries)
{
    QStringList found;
    QString server;
    for (const QByteArray &raw : report.split('\n').mid(0, report.count('\n'))) {
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith(QLatin1String("SERVER "))) {
            server = line.mid(line.lastIndexOf(u' ') + 1);
        } else if (line.startsWith(QLatin1String("CLIENTS "))) {
            for (const QString &name : line.mid(line.indexOf(u"; ") + 2).split(u'\t')) {
                if (!name.isEmpty() && isWatched(entries, name))
                    found.append(name + u' ' + server);
            }
        }
    }
    return found;
}

struct Notice
{
    enum Kind { None, Info, Important };
    Kind kind = None;
    QString text;
    friend bool operator==(const Notice &a, const Notice &b) { return a.kind == b.kind && a.text == b.text; }
};

// Player and server of an entry: the two sides of its only white-space
// character, neither empty; otherwise two empty strings.
inline std::pair<QString, QString> parts(const QString &entry)
{
    qsizetype space = -1;
    int spaces = 0;
    for (qsizetype i = 0; i < entry.size(); ++i) {
        if (entry.at(i).isSpace()) {
            ++spaces;
            space = i;
        }
    }
    if (spaces != 1 || space == 0 || space == entry.size() - 1)
        return {};
    return {entry.left(space), entry.mid(space + 1)};
}

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
    const auto line = [](const char *colour, const QString &entry, const char *verb) {
        const auto who = parts(entry);
        return QStringLiteral("<font color=#%1><b>%2</b> %3 %4<br/></font>")
            .arg(QLatin1String(colour), escaped(who.first), QLatin1String(verb), escaped(who.second));
    };
    Notice notice;
    bool arrival = false;
    bool departure = false;
    for (const QString &e : now) {
        const qsizetype equal = before.count(e);
        for (qsizetype i = 0; i < equal; ++i)
            notice.text += line("000000", e, "on");
        if (equal == 0) {
            notice.text += line("00aa00", e, "on");
            arrival = true;
        }
    }
    for (const QString &b : before) {
        bool stayed = false;
        for (const QString &e : now)
            stayed = stayed || parts(e) == parts(b);
        if (!stayed) {
            notice.text += line("c0c0c0", b, "left");
            departure = true;
        }
    }
    notice.kind = arrival ? Notice::Important : (departure || now != before) ? Notice::Info : Notice::None;
    if (notice.kind == Notice::None)
        notice.text.clear();
    return notice;
}

} // namespace reference
