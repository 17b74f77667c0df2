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

Matcher::Matcher(const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (isTag(entry))
            m_tags.append(QStringMatcher(entry, Qt::CaseInsensitive));
        else
            m_plain.append(entry.toLower());
    }
    std::sort(m_plain.begin(), m_plain.end());
}

bool Matcher::isWatched(QStringView name) const
{
    // A tag begins with "[", which no other character matches in any case.
    // QStringMatcher: Qt's case-insensitive search, set up once per tag.
    const qsizetype open = name.indexOf(u'[');
    for (const QStringMatcher &tag : m_tags) {
        if (open >= 0 && tag.indexIn(name, open) >= 0)
            return true;
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
