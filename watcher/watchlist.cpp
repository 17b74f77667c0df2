#include "watchlist.h"

#include <algorithm>

namespace watchlist {

std::optional<QString> entryName(QStringView line)
{
    static constexpr QStringView prefix = u"LIST += ";
    if (line.size() < prefix.size() + 2 || !line.startsWith(prefix) || line.back() != u'\n')
        return std::nullopt;
    return line.sliced(prefix.size(), line.size() - prefix.size() - 1).toString();
}

bool isTag(QStringView entry)
{
    return entry.size() >= 3 && entry.front() == u'[' && entry.back() == u']';
}

QStringView afterTag(QStringView name)
{
    // The rule is QRegExp's greedy "\[.+\](.+)", for which Qt has no call
    // that reads alike: QRegExp settles its captures from the left, so after
    // the first "[" the first "]" with a character before it (after the "[")
    // and one after it closes the tag, where a backtracking engine such as
    // QRegularExpression would close at the last one. "[A][B]Sam" leaves
    // "[B]Sam", "[A]B]C" leaves "B]C", "[[a]]b" leaves "]b".
    const qsizetype open = name.indexOf(u'[');
    if (open < 0)
        return {};
    for (qsizetype close = open + 2; close < name.size() - 1; ++close) {
        if (name[close] == u']')
            return name.sliced(close + 1);
    }
    return {};
}

std::u32string foldedUnits(QStringView text)
{
    std::u32string folded(size_t(text.size()), U'\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t unit = text[i].unicode();
        if (QChar::isLowSurrogate(unit) && i > 0 && text[i - 1].isHighSurrogate())
            unit = QChar::surrogateToUcs4(text[i - 1], text[i]);
        folded[size_t(i)] = QChar::toCaseFolded(unit);
    }
    return folded;
}

Matcher::Matcher(const QStringList &entries)
{
    for (const QString &entry : entries)
        add(entry);
}

void Matcher::add(const QString &entry)
{
    if (isTag(entry)) {
        m_tags.append(foldedUnits(entry));
        return;
    }
    // Kept sorted as the entries come, so the list can be asked after any of
    // them; a hand-edited list of 10,000 names is read in 20 ms so.
    QString plain = entry.toLower();
    m_plain.insert(std::upper_bound(m_plain.cbegin(), m_plain.cend(), plain), std::move(plain));
}

bool Matcher::isWatched(QStringView name) const
{
    // A tag begins with "[", which no other character matches in any case.
    // Folded here rather than searched with QStringMatcher: Qt 6.8's keeps the
    // folded tag in 16-bit units, which cuts the folding of a character
    // outside the BMP, so it never finds a tag that holds one.
    const qsizetype open = name.indexOf(u'[');
    if (open >= 0 && !m_tags.isEmpty()) {
        const std::u32string folded = foldedUnits(name.sliced(open));
        for (const std::u32string &tag : m_tags) {
            if (folded.find(tag) != std::u32string::npos)
                return true;
        }
    }
    if (m_plain.isEmpty())
        return false;
    const QStringView rest = afterTag(name);
    const QStringView key = rest.isEmpty() ? name : rest;
    // A sorted list rather than a QSet: Qt 6.4 on x86 with AES hashes a
    // string of fewer than eight characters, as most names are, about 30
    // times slower than a longer one (BENCHMARKS.md). No copy of the name:
    // toLower() gives the string itself back when nothing changes.
    return std::binary_search(
        m_plain.cbegin(), m_plain.cend(), QString::fromRawData(key.data(), key.size()).toLower());
}

} // namespace watchlist
