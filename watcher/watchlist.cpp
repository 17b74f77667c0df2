#include "watchlist.h"

#include "lines.h"

#include <QVarLengthArray>

#include <algorithm>

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

namespace {

char16_t asciiLower(char16_t u)
{
    return u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
}

// The unit at `i` case-folded the way QString::indexOf(..., Qt::CaseInsensitive)
// folds it: a low surrogate together with the high one before it, any other
// unit on its own, lone surrogates included. Folding never takes an ASCII
// character out of ASCII, though it brings two others in (the Kelvin sign and
// the long s), so only the ASCII side has a shortcut.
char32_t foldedAt(const char16_t *s, qsizetype i)
{
    const char16_t u = s[i];
    if (u < 0x80)
        return asciiLower(u);
    if (QChar::isLowSurrogate(u) && i > 0 && QChar::isHighSurrogate(s[i - 1]))
        return QChar::toCaseFolded(QChar::surrogateToUcs4(s[i - 1], u));
    return QChar::toCaseFolded(char32_t(u));
}

struct BySecond
{
    template <typename Tag>
    bool operator()(const Tag &tag, char32_t c) const
    {
        return tag.second < c;
    }
    template <typename Tag>
    bool operator()(char32_t c, const Tag &tag) const
    {
        return c < tag.second;
    }
};

} // namespace

Matcher::Matcher(const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (isTag(entry)) {
            const auto offset = quint32(m_folded.size());
            for (qsizetype i = 0; i < entry.size(); ++i)
                m_folded.push_back(foldedAt(QStringView(entry).utf16(), i));
            m_tags.push_back({m_folded[offset + 1], offset, quint32(entry.size())});
        } else {
            m_lowered.append(entry.toLower());
        }
    }
    std::sort(m_tags.begin(), m_tags.end(), [](const Tag &a, const Tag &b) {
        return a.second != b.second ? a.second < b.second : a.length < b.length;
    });

    if (m_lowered.isEmpty())
        return;
    size_t capacity = 8;
    while (capacity < size_t(m_lowered.size()) * 2)
        capacity *= 2;
    m_plain.assign(capacity, Slot{0, 0});
    m_mask = capacity - 1;
    for (qsizetype e = 0; e < m_lowered.size(); ++e) {
        const QString &lowered = m_lowered.at(e);
        const size_t hash = lines::textHash(lowered, *m_key);
        if (contains(lowered, hash))
            continue;
        size_t i = hash & m_mask;
        while (m_plain[i].entry != 0)
            i = (i + 1) & m_mask;
        m_plain[i] = {hash, quint32(e + 1)};
    }
}

bool Matcher::isWatched(QStringView name) const
{
    if (m_plain.empty())
        return hasTag(name);
    // Most names have no "[": then neither a tag nor the part after a tag is
    // in them, and one pass that lower-cases the name decides.
    QVarLengthArray<char16_t, 64> buffer(name.size());
    if (lowerSimply(name, buffer.data()) == Lowering::Done) {
        const QStringView lowered(buffer.constData(), name.size());
        return isEntry(QStringView(lowered));
    }
    if (hasTag(name))
        return true;
    const QStringView rest = afterTag(name);
    return rest.isEmpty() ? isPlainEntry(name, true) : isPlainEntry(rest, false);
}

bool Matcher::hasTag(QStringView name) const
{
    if (m_tags.empty())
        return false;
    const char16_t *const s = name.utf16();
    const qsizetype size = name.size();
    // Each tag starts with "[", which nothing else folds to, so a tag can only
    // be found where the name has one: most names are passed over at the cost
    // of looking for that one character.
    for (qsizetype at = 0; size - at >= 3; ++at) {
        if (s[at] != u'[')
            continue;
        const auto [first, last] = std::equal_range(m_tags.begin(), m_tags.end(), foldedAt(s, at + 1), BySecond());
        for (auto tag = first; tag != last; ++tag) {
            if (tag->length > size - at)
                break; // sorted by length within the same second unit
            const char32_t *folded = m_folded.data() + tag->offset;
            qsizetype k = 2;
            while (k < qsizetype(tag->length) && foldedAt(s, at + k) == folded[k])
                ++k;
            if (k == qsizetype(tag->length))
                return true;
        }
    }
    return false;
}

Matcher::Lowering Matcher::lowerSimply(QStringView key, char16_t *lowered, bool stopAtBracket)
{
    // Lower-cased one unit at a time, without a string of its own, when that
    // gives what QString::toLower() gives: for every unit but surrogates and
    // U+0130, the one character whose lower case is two (an "i" and a
    // combining dot), which QChar::toLower() leaves as it is.
    const char16_t *const s = key.utf16();
    for (qsizetype i = 0; i < key.size(); ++i) {
        const char16_t u = s[i];
        if (u < 0x80) {
            if (u == u'[' && stopAtBracket)
                return Lowering::Bracket;
            lowered[i] = asciiLower(u);
            continue;
        }
        if (QChar::isSurrogate(u) || u == 0x130)
            return Lowering::NeedsQt;
        const char32_t l = QChar::toLower(char32_t(u));
        if (l > 0xffff)
            return Lowering::NeedsQt;
        lowered[i] = char16_t(l);
    }
    return Lowering::Done;
}

bool Matcher::isPlainEntry(QStringView key, bool wholeName) const
{
    QVarLengthArray<char16_t, 64> buffer(key.size());
    if (lowerSimply(key, buffer.data(), false) == Lowering::Done) {
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
    return contains(lowered, lines::textHash(lowered, *m_key));
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
