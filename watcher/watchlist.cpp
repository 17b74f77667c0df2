#include "watchlist.h"

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
    const qsizetype open = name.indexOf(u'[');
    if (open < 0 || name.size() < 2)
        return {};
    // The closing bracket needs a character before it (after the "[") and one after it.
    const qsizetype close = name.lastIndexOf(u']', name.size() - 2);
    if (close < open + 2)
        return {};
    return name.mid(close + 1);
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
    for (const QString &tag : m_tags) {
        if (name.indexOf(tag, 0, Qt::CaseInsensitive) >= 0)
            return true;
    }
    if (m_plain.isEmpty())
        return false;
    const QStringView rest = afterTag(name);
    return m_plain.contains((rest.isEmpty() ? name : rest).toString().toLower());
}

} // namespace watchlist
