#include "watchlist.h"

#include "lines.h"

#include <QVarLengthArray>

namespace watchlist {

using namespace Qt::StringLiterals;

bool isComment(QStringView line)
{
    return line.size() >= 2 && line.front() == u'#';
}

std::optional<QString> entryName(QStringView line)
{
    static constexpr QStringView prefix = u"LIST += ";
    if (line.size() < prefix.size() + 2 || !line.startsWith(prefix) || line.back() != u'\n')
        return std::nullopt;
    return line.mid(prefix.size(), line.size() - prefix.size() - 1).toString();
}

bool isTag(QStringView entry)
{
    return entry.size() >= 3 && entry.front() == u'[' && entry.back() == u']';
}

QStringView afterTag(QStringView name)
{
    // Plain loops rather than indexOf(): this runs for every player of a
    // report, and names are too short for a vectorised search to pay off.
    const char16_t *const s = name.utf16();
    const qsizetype size = name.size();
    qsizetype open = 0;
    while (open < size && s[open] != u'[')
        ++open;
    // The closing bracket needs a character before it (after the "[") and one
    // after it; the first such one closes the tag, as QRegExp's greedy
    // "\[.+\](.+)" has it: the engine settles the captures from the left.
    for (qsizetype close = open + 2; close < size - 1; ++close) {
        if (s[close] == u']')
            return name.sliced(close + 1);
    }
    return {};
}

Matcher::Matcher(const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (isTag(entry)) {
            m_tags.add(entry);
        } else {
            m_lowered.append(entry.toLower());
        }
    }
    m_tags.prepare();

    if (m_lowered.isEmpty())
        return;
    size_t capacity = 8;
    while (capacity < size_t(m_lowered.size()) * 2)
        capacity *= 2;
    m_plain.assign(capacity, Slot{0, 0});
    m_mask = capacity - 1;
    for (qsizetype e = 0; e < m_lowered.size(); ++e) {
        const QString &lowered = m_lowered.at(e);
        const size_t hash = keyedhash::hash(lowered, *m_key);
        if (contains(lowered, hash))
            continue;
        m_sketch.add(lowered);
        size_t i = hash & m_mask;
        while (m_plain[i].entry != 0)
            i = (i + 1) & m_mask;
        m_plain[i] = {hash, quint32(e + 1)};
    }
}

bool Matcher::isWatched(QStringView name) const
{
    if (m_plain.empty())
        return m_tags.foundIn(name);
    // Most names have no "[": then neither a tag nor the part after a tag is
    // in them, and one pass that lower-cases the name decides.
    QVarLengthArray<char16_t, 64> buffer(name.size());
    if (fastpath::lowerSimply(name, buffer.data()) == fastpath::Lowering::Done) {
        const QStringView lowered(buffer.constData(), name.size());
        return isEntry(QStringView(lowered));
    }
    if (m_tags.foundIn(name))
        return true;
    const QStringView rest = afterTag(name);
    return rest.isEmpty() ? isPlainEntry(name, true) : isPlainEntry(rest, false);
}

bool Matcher::isPlainEntry(QStringView key, bool wholeName) const
{
    QVarLengthArray<char16_t, 64> buffer(key.size());
    if (fastpath::lowerSimply(key, buffer.data(), false) == fastpath::Lowering::Done) {
        const QStringView lowered(buffer.constData(), key.size());
        return isEntry(QStringView(lowered));
    }

    // QString::toLower() turns a lone surrogate into U+FFFD once it has
    // changed a character before it, and, in a temporary string only, a final
    // high surrogate too. The QRegExp reference reading lower-cases a whole
    // name as a named string and the part after a tag as a temporary, and so
    // do we.
    if (wholeName) {
        const QString name = key.toString();
        const QString lower = name.toLower();
        return isEntry(QStringView(lower));
    }
    const QString lower = key.toString().toLower();
    return isEntry(QStringView(lower));
}

bool Matcher::isEntry(QStringView lowered) const
{
    if (!m_sketch.mayHold(lowered))
        return false;
    return contains(lowered, keyedhash::hash(lowered, *m_key));
}

bool Matcher::contains(QStringView lowered, size_t hash) const
{
    for (size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
        const Slot &slot = m_plain[i];
        if (slot.entry == 0)
            return false;
        if (slot.hash == hash && m_lowered.at(slot.entry - 1) == lowered)
            return true;
    }
}

} // namespace watchlist
