#include "presence.h"

#include "lines.h"

#include <vector>

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
    // Runs of ordinary characters go in whole: a notice of many thousand
    // lines is mostly names.
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        QStringView entity;
        switch (s[i].unicode()) {
        case u'<': entity = u"&lt;"; break;
        case u'>': entity = u"&gt;"; break;
        case u'&': entity = u"&amp;"; break;
        case u'"': entity = u"&quot;"; break;
        default: continue;
        }
        text.append(s.sliced(from, i - from));
        text.append(entity);
        from = i + 1;
    }
    text.append(s.sliced(from));
}

} // namespace

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

namespace {

// Open addressing over the positions of a list, for one comparison: one
// vector instead of a node per entry, and every string hashed once.
class PositionTable
{
public:
    // Small, so that more of a large table stays in the cache.
    struct Slot
    {
        quint32 hash = 0;
        qint32 position = -1; // -1 for a free slot; lists hold fewer than 2^31 entries
        qint32 count = 0;
    };

    explicit PositionTable(qsizetype entries)
    {
        size_t capacity = 16;
        while (capacity < size_t(entries) * 2)
            capacity *= 2;
        m_slots.resize(capacity);
        m_mask = capacity - 1;
    }

    // The slot that holds what `sameAs` recognises by its position, or the
    // free slot where it belongs.
    template <typename Same>
    Slot &find(size_t hash, Same &&sameAs)
    {
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot &slot = m_slots[i];
            if (slot.position < 0 || (slot.hash == quint32(hash) && sameAs(slot.position)))
                return slot;
        }
    }

private:
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
};

size_t hashOf(const Split &who)
{
    return lines::textHash(who.player) * 0x9e3779b97f4a7c15ULL ^ lines::textHash(who.server);
}

} // namespace

Notice compare(const QStringList &now, const QStringList &before)
{
    Notice notice;
    // Every entry stays where it was: nothing to tell, so nothing to write.
    // Any other pair of lists differs at least in order.
    if (now == before)
        return notice;
    bool arrived = false;

    PositionTable beforeCount(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const QString &b = before.at(i);
        const size_t hash = lines::textHash(b);
        PositionTable::Slot &slot = beforeCount.find(hash, [&](qsizetype j) { return before.at(j) == b; });
        if (slot.position < 0)
            slot = {quint32(hash), qint32(i), 0};
        ++slot.count;
    }

    std::vector<Split> nowSplit;
    nowSplit.reserve(size_t(now.size()));
    PositionTable nowSplitAt(now.size());
    // A stay or arrival line is about fifty characters besides the entry.
    qsizetype textSize = 0;
    for (const QString &e : now)
        textSize += e.size() + 50;
    notice.text.reserve(textSize);
    for (const QString &e : now) {
        const Split who = split(e);
        nowSplit.push_back(who);
        const size_t whoHash = hashOf(who);
        PositionTable::Slot &at = nowSplitAt.find(whoHash, [&](qsizetype j) { return nowSplit[size_t(j)] == who; });
        if (at.position < 0)
            at = {quint32(whoHash), qint32(nowSplit.size() - 1), 1};
        const int equal = beforeCount.find(lines::textHash(e), [&](qsizetype j) { return before.at(j) == e; }).count;
        for (int i = 0; i < equal; ++i)
            appendLine(notice.text, LineKind::Stay, who);
        if (equal == 0) {
            appendLine(notice.text, LineKind::Arrival, who);
            arrived = true;
        }
    }

    for (const QString &b : before) {
        const Split who = split(b);
        if (nowSplitAt.find(hashOf(who), [&](qsizetype j) { return nowSplit[size_t(j)] == who; }).position < 0)
            appendLine(notice.text, LineKind::Departure, who);
    }

    notice.kind = arrived ? Notice::Important : Notice::Info;
    return notice;
}

} // namespace presence
