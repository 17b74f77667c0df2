#include "presence.h"

#include "keyedhash.h"

#include <algorithm>
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
    const char16_t *const s = entry.utf16();
    qsizetype space = -1;
    for (qsizetype i = 0; i < entry.size(); ++i) {
        // Printable ASCII, most of every entry, is passed over at once.
        if (char16_t(s[i] - 0x21) < 0x5e)
            continue;
        if (QChar::isSpace(s[i])) {
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

QStringView entityFor(char16_t c)
{
    switch (c) {
    case u'<': return u"&lt;";
    case u'>': return u"&gt;";
    case u'&': return u"&amp;";
    case u'"': return u"&quot;";
    default: return {};
    }
}

qsizetype escapedSize(QStringView s)
{
    qsizetype size = s.size();
    for (const QChar c : s) {
        if (c.unicode() < 0x3f)
            size += qMax(qsizetype(0), entityFor(c.unicode()).size() - 1);
    }
    return size;
}

QChar *put(QChar *out, QStringView s)
{
    return std::copy(s.begin(), s.end(), out);
}

QChar *putEscaped(QChar *out, QStringView s)
{
    for (const QChar c : s) {
        const QStringView entity = c.unicode() < 0x3f ? entityFor(c.unicode()) : QStringView();
        if (entity.isEmpty())
            *out++ = c;
        else
            out = put(out, entity);
    }
    return out;
}

} // namespace

void appendLine(QString &text, LineKind kind, const Split &who)
{
    const QStringView open = kind == LineKind::Stay ? u"<font color=#000000><b>"
        : kind == LineKind::Arrival                 ? u"<font color=#00aa00><b>"
                                                    : u"<font color=#c0c0c0><b>";
    const QStringView middle = kind == LineKind::Departure ? u"</b> left " : u"</b> on ";
    const QStringView close = u"<br/></font>";
    // One resize and a straight copy: a notice can run to many thousand lines.
    const qsizetype at = text.size();
    text.resize(
        at + open.size() + escapedSize(who.player) + middle.size() + escapedSize(who.server) + close.size());
    QChar *out = text.data() + at;
    out = put(out, open);
    out = putEscaped(out, who.player);
    out = put(out, middle);
    out = putEscaped(out, who.server);
    put(out, close);
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
    template <typename Same> Slot &find(size_t hash, Same &&sameAs)
    {
        for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot &slot = m_slots[i];
            if (slot.position < 0 || (slot.hash == quint32(hash) && sameAs(slot.position)))
                return slot;
        }
    }

    void prefetch(size_t hash) const
    {
#if defined(__GNUC__)
        __builtin_prefetch(&m_slots[hash & m_mask]);
#else
        Q_UNUSED(hash);
#endif
    }

private:
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
};

// An entry cut at its blank, with the hashes of both tables. An entry
// "player server" is its pair's own text, so one hash serves as both; only
// an entry cut at another blank (a tab, say) hashes its pair a second time,
// written with a space so that it hashes like the same pair cut at a space.
// Every entry that does not split is the same empty pair.
struct Keyed
{
    Split who;
    size_t hash = 0;
    size_t whoHash = 0;
};

Keyed keyed(const QString &e, const keyedhash::Key &key)
{
    Keyed k{split(e), keyedhash::hash(e, key), 0};
    if (k.who.player.isEmpty())
        k.whoHash = 0;
    else if (e.at(k.who.player.size()) == u' ')
        k.whoHash = k.hash;
    else
        k.whoHash = keyedhash::hash(entry(k.who.player, k.who.server), key);
    return k;
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
    const keyedhash::Key &key = keyedhash::processKey();

    // The hashes first, in one pass down each list, so that the lookups
    // after it can ask for their slots a few entries ahead: with a hundred
    // thousand entries the tables outgrow the cache, and waiting for memory
    // would cost more than all the rest.
    std::vector<Keyed> beforeKeyed(size_t(before.size()));
    for (qsizetype i = 0; i < before.size(); ++i)
        beforeKeyed[size_t(i)] = keyed(before.at(i), key);
    std::vector<Keyed> nowKeyed(size_t(now.size()));
    // A stay or arrival line is about fifty characters besides the entry.
    qsizetype textSize = 0;
    for (qsizetype i = 0; i < now.size(); ++i) {
        nowKeyed[size_t(i)] = keyed(now.at(i), key);
        textSize += now.at(i).size() + 50;
    }
    constexpr size_t ahead = 8;

    PositionTable beforeCount(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (size_t(i) + ahead < beforeKeyed.size())
            beforeCount.prefetch(beforeKeyed[size_t(i) + ahead].hash);
        const QString &b = before.at(i);
        const size_t hash = beforeKeyed[size_t(i)].hash;
        PositionTable::Slot &slot = beforeCount.find(hash, [&](qsizetype j) { return before.at(j) == b; });
        if (slot.position < 0)
            slot = {quint32(hash), qint32(i), 0};
        ++slot.count;
    }

    PositionTable nowSplitAt(now.size());
    notice.text.reserve(textSize);
    for (qsizetype i = 0; i < now.size(); ++i) {
        if (size_t(i) + ahead < nowKeyed.size()) {
            nowSplitAt.prefetch(nowKeyed[size_t(i) + ahead].whoHash);
            beforeCount.prefetch(nowKeyed[size_t(i) + ahead].hash);
        }
        const QString &e = now.at(i);
        const Keyed &k = nowKeyed[size_t(i)];
        PositionTable::Slot &at
            = nowSplitAt.find(k.whoHash, [&](qsizetype j) { return nowKeyed[size_t(j)].who == k.who; });
        if (at.position < 0)
            at = {quint32(k.whoHash), qint32(i), 1};
        const int equal = beforeCount.find(k.hash, [&](qsizetype j) { return before.at(j) == e; }).count;
        for (int n = 0; n < equal; ++n)
            appendLine(notice.text, LineKind::Stay, k.who);
        if (equal == 0) {
            appendLine(notice.text, LineKind::Arrival, k.who);
            arrived = true;
        }
    }

    for (size_t i = 0; i < beforeKeyed.size(); ++i) {
        if (i + ahead < beforeKeyed.size())
            nowSplitAt.prefetch(beforeKeyed[i + ahead].whoHash);
        const Keyed &k = beforeKeyed[i];
        if (nowSplitAt.find(k.whoHash, [&](qsizetype j) { return nowKeyed[size_t(j)].who == k.who; }).position
            < 0)
            appendLine(notice.text, LineKind::Departure, k.who);
    }

    notice.kind = arrived ? Notice::Important : Notice::Info;
    return notice;
}

} // namespace presence
