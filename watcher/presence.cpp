#include "presence.h"

#include <QHash>
#include <QSet>

namespace presence {

using namespace Qt::StringLiterals;

Split split(QStringView entry)
{
    qsizetype space = -1;
    for (qsizetype i = 0; i < entry.size(); ++i) {
        if (entry[i].isSpace()) {
            if (space >= 0)
                return {};
            space = i;
        }
    }
    if (space <= 0 || space == entry.size() - 1)
        return {};
    return {entry.first(space), entry.sliced(space + 1)};
}

QByteArray traceLine(QStringView entry)
{
    const qsizetype space = entry.lastIndexOf(u' ');
    return entry.first(space).toLatin1() + " on " + entry.sliced(space + 1).toLatin1() + '\n';
}

// Found by QSet through the argument's namespace.
static size_t qHash(const Split &who, size_t seed = 0)
{
    return qHashMulti(seed, who.player, who.server);
}

namespace {

enum class LineKind { Stay, Arrival, Departure };

void appendLine(QString &text, LineKind kind, const Split &who)
{
    text += kind == LineKind::Stay  ? u"<font color=#000000><b>"_s
        : kind == LineKind::Arrival ? u"<font color=#00aa00><b>"_s
                                    : u"<font color=#c0c0c0><b>"_s;
    text += who.player.toString().toHtmlEscaped();
    text += kind == LineKind::Departure ? u"</b> left "_s : u"</b> on "_s;
    text += who.server.toString().toHtmlEscaped();
    text += u"<br/></font>"_s;
}

} // namespace

Notice compare(const QStringList &now, const QStringList &before)
{
    Notice notice;
    if (now == before)
        return notice;

    // Hashed, not two nested loops: a report may hold thousands of watched
    // players, and the hash is seeded per process, so no lobby can make the
    // tables slow.
    QHash<QString, int> countBefore;
    countBefore.reserve(before.size());
    for (const QString &b : before)
        ++countBefore[b];
    QSet<Split> whoNow;
    whoNow.reserve(now.size());

    bool arrived = false;
    for (const QString &e : now) {
        const Split who = split(e);
        whoNow.insert(who);
        const int equal = countBefore.value(e);
        for (int n = 0; n < equal; ++n)
            appendLine(notice.text, LineKind::Stay, who);
        if (equal == 0) {
            appendLine(notice.text, LineKind::Arrival, who);
            arrived = true;
        }
    }
    for (const QString &b : before) {
        const Split who = split(b);
        if (!whoNow.contains(who))
            appendLine(notice.text, LineKind::Departure, who);
    }
    notice.kind = arrived ? Notice::Important : Notice::Info;
    return notice;
}

} // namespace presence
