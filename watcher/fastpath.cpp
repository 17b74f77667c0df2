#include "fastpath.h"

#include <algorithm>
#include <cstring>

namespace fastpath {

namespace {

// The unit at `i` case-folded the way QString::indexOf(..., Qt::CaseInsensitive)
// folds it: a low surrogate together with the high one before it, any other
// unit on its own, lone surrogates included. Folding never takes an ASCII
// character out of ASCII, though it brings two others in (the Kelvin sign and
// the long s), so only the ASCII side has a shortcut.
char32_t foldedAt(const char16_t *s, qsizetype i)
{
    const char16_t u = s[i];
    if (u < 0x80)
        return detail::asciiLower(u);
    if (QChar::isLowSurrogate(u) && i > 0 && QChar::isHighSurrogate(s[i - 1]))
        return QChar::toCaseFolded(QChar::surrogateToUcs4(s[i - 1], u));
    return QChar::toCaseFolded(char32_t(u));
}

struct BySecond
{
    template <typename Tag> bool operator()(const Tag &tag, char32_t c) const { return tag.second < c; }
    template <typename Tag> bool operator()(char32_t c, const Tag &tag) const { return c < tag.second; }
};

} // namespace

void TagSearch::add(QStringView tag)
{
    const auto offset = quint32(m_folded.size());
    for (qsizetype i = 0; i < tag.size(); ++i)
        m_folded.push_back(foldedAt(tag.utf16(), i));
    m_tags.push_back({m_folded[offset + 1], offset, quint32(tag.size())});
}

void TagSearch::prepare()
{
    std::sort(m_tags.begin(), m_tags.end(), [](const Tag &a, const Tag &b) {
        return a.second != b.second ? a.second < b.second : a.length < b.length;
    });
}

bool TagSearch::foundIn(QStringView name) const
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
        const auto [first, last]
            = std::equal_range(m_tags.begin(), m_tags.end(), foldedAt(s, at + 1), BySecond());
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

} // namespace fastpath
