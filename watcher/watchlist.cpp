#include "watchlist.h"

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
            m_tags.append(entry);
        else
            m_plain.insert(entry.toLower());
    }
}

bool Matcher::isWatched(QStringView name) const
{
    // A tag begins with "[", which no other character matches in any case.
    const bool bracket = name.contains(u'[');
    for (const QString &tag : m_tags) {
        if (bracket && name.contains(tag, Qt::CaseInsensitive))
            return true;
    }
    if (m_plain.isEmpty())
        return false;
    const QStringView rest = bracket ? afterTag(name) : QStringView();
    const QStringView key = rest.isEmpty() ? name : rest;
    // No copy of the name: toLower() gives the string itself back when
    // nothing changes, as for most names, and this runs for every player.
    return m_plain.contains(QString::fromRawData(key.data(), key.size()).toLower());
}

} // namespace watchlist
