#include "naive.h"

#include <cstring>

using namespace Qt::StringLiterals;

namespace naive {

Reader::Reader()
    : m_server(u"^SERVER \\d+; \\S+ (\\w+)\\n$"_s)
    , m_clients(u"^CLIENTS \\d+; (.+)\\n$"_s)
    , m_player(u"[\\t](.+)[\\t]"_s)
    , m_tagEntry(u"^\\[.+\\]$"_s)
    , m_tagged(u"\\[.+\\](.+)"_s)
{
    m_player.setMinimal(true);
}

void Reader::read(QByteArrayView report, const QStringList &watchList, QStringList &entries)
{
    const char *p = report.data();
    const char *const end = p + report.size();
    while (p < end) {
        const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *const stop = lf ? lf + 1 : end;
        const QString line = QString::fromUtf8(p, stop - p);
        p = stop;
        if (m_server.indexIn(line) != -1)
            m_currentServer = m_server.cap(1);
        if (m_clients.indexIn(line) == -1)
            continue;
        const QString list = u'\t' + m_clients.cap(1) + u'\t';
        for (int from = 0, pos; (pos = m_player.indexIn(list, from)) != -1; from = pos + 1) {
            const QString name = m_player.cap(1);
            if (isIntresting(name, watchList))
                entries.append(name + u' ' + m_currentServer);
        }
    }
}

bool Reader::isIntresting(const QString &name, const QStringList &watchList)
{
    bool found = false;
    for (const QString &w : watchList) {
        if (m_tagEntry.indexIn(w) != -1)
            found = found || name.indexOf(w, 0, Qt::CaseInsensitive) != -1;
        else if (m_tagged.indexIn(name) != -1)
            found = found || m_tagged.cap(1).toLower() == w.toLower();
        else
            found = found || name.toLower() == w.toLower();
    }
    return found;
}

namespace {

presence::Split split(QRegExp &rx, const QString &entry)
{
    if (rx.indexIn(entry) == -1)
        return {};
    // Views into the entry: the captures are the pattern's own strings.
    const QStringView view(entry);
    return {view.mid(rx.pos(1), rx.cap(1).size()), view.mid(rx.pos(2), rx.cap(2).size())};
}

} // namespace

presence::Notice compare(const QStringList &now, const QStringList &before)
{
    QRegExp rx(u"^(\\S+)\\s(\\S+)$"_s);
    presence::Notice notice;
    bool differ = now != before;
    bool arrived = false;
    for (const QString &e : now) {
        int equal = 0;
        for (const QString &b : before)
            equal += e == b;
        const presence::Split who = split(rx, e);
        for (int i = 0; i < equal; ++i)
            presence::appendLine(notice.text, presence::LineKind::Stay, who);
        if (equal == 0) {
            presence::appendLine(notice.text, presence::LineKind::Arrival, who);
            arrived = true;
        }
    }
    for (const QString &b : before) {
        const presence::Split gone = split(rx, b);
        bool found = false;
        for (const QString &e : now) {
            if (split(rx, e) == gone) {
                found = true;
                break;
            }
        }
        if (!found) {
            presence::appendLine(notice.text, presence::LineKind::Departure, gone);
            differ = true;
        }
    }
    notice.kind = arrived ? presence::Notice::Important : differ ? presence::Notice::Info : presence::Notice::None;
    if (notice.kind == presence::Notice::None)
        notice.text.clear();
    return notice;
}

} // namespace naive
