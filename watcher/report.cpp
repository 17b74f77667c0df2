#include "report.h"

namespace report {

namespace {

// Advances `i` past a run of characters for which `inClass` holds and tells
// whether the run had at least one.
template <typename Class>
bool skipRun(QStringView line, qsizetype &i, Class inClass)
{
    const qsizetype start = i;
    while (i < line.size() && inClass(line[i]))
        ++i;
    return i > start;
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c.isMark() || c == u'_';
}

// Reads "<keyword> <digits>; " and gives the position after it, or -1.
qsizetype afterHeader(QStringView line, QStringView keyword)
{
    if (!line.startsWith(keyword))
        return -1;
    qsizetype i = keyword.size();
    if (!skipRun(line, i, [](QChar c) { return c.isDigit(); }))
        return -1;
    if (i + 2 > line.size() || line[i] != u';' || line[i + 1] != u' ')
        return -1;
    return i + 2;
}

} // namespace

std::optional<QStringView> serverName(QStringView line)
{
    qsizetype i = afterHeader(line, u"SERVER ");
    if (i < 0 || !skipRun(line, i, [](QChar c) { return !c.isSpace(); }))
        return std::nullopt;
    if (i >= line.size() || line[i] != u' ')
        return std::nullopt;
    const qsizetype nameStart = ++i;
    if (!skipRun(line, i, isWordChar))
        return std::nullopt;
    if (i + 1 != line.size() || line[i] != u'\n')
        return std::nullopt;
    return line.sliced(nameStart, i - nameStart);
}

std::optional<QStringView> playerList(QStringView line)
{
    const qsizetype i = afterHeader(line, u"CLIENTS ");
    if (i < 0 || line.size() - i < 2 || line.back() != u'\n')
        return std::nullopt;
    return line.sliced(i, line.size() - i - 1);
}

} // namespace report
