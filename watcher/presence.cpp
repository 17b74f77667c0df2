#include "presence.h"

#include <QHash>
#include <QSet>

namespace presence {

using namespace Qt::StringLiterals;

QString entry(QStringView player, QStringView server)
{
    QString e;
    e.reserve(player.size() + 1 + server.size());
    e.append(player).append(u' ').append(server);
    return e;
}

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

namespace {

void appendEscaped(QString &text, QStringView s)
{
    for (QChar c : s) {
        switch (c.unicode()) {
        case u'<': text += u"&lt;"; break;
        case u'>': text += u"&gt;"; break;
        case u'&': text += u"&amp;"; break;
        case u'"': text += u"&quot;"; break;
        default: text += c;
        }
    }
}

} // namespace

size_t qHash(const Split &s, size_t seed = 0)
{
    return qHashMulti(seed, s.player, s.server);
}

void appendLine(QString &text, LineKind kind, const Split &who)
{
    switch (kind) {
    case LineKind::Stay: text += u"<font color=#000000><b>"; break;
    case LineKind::Arrival: text += u"<font color=#00aa00><b>"; break;
    case LineKind::Departure: text += u"<font color=#c0c0c0><b>"; break;
    }
    appendEscaped(text, who.player);
    text += kind == LineKind::Departure ? u"</b> left "_s : u"</b> on "_s;
    appendEscaped(text, who.server);
    text += u"<br/></font>";
}

Notice compare(const QStringList &now, const QStringList &before)
{
    Notice notice;
    bool differ = now != before;
    bool arrived = false;

    QHash<QStringView, int> beforeCount;
    beforeCount.reserve(before.size());
    for (const QString &b : before)
        ++beforeCount[b];

    QSet<Split> nowSplit;
    nowSplit.reserve(now.size());
    for (const QString &e : now) {
        const Split who = split(e);
        nowSplit.insert(who);
        const int equal = beforeCount.value(e);
        for (int i = 0; i < equal; ++i)
            appendLine(notice.text, LineKind::Stay, who);
        if (equal == 0) {
            appendLine(notice.text, LineKind::Arrival, who);
            arrived = true;
        }
    }

    for (const QString &b : before) {
        const Split who = split(b);
        if (!nowSplit.contains(who)) {
            appendLine(notice.text, LineKind::Departure, who);
            differ = true;
        }
    }

    notice.kind = arrived ? Notice::Important : differ ? Notice::Info : Notice::None;
    if (notice.kind == Notice::None)
        notice.text.clear();
    return notice;
}

} // namespace presence
