#include "report.h"

#include "presence.h"

#include <algorithm>

namespace report {

namespace {

// Advances `i` past a run of characters for which `inClass` holds and tells
// whether the run had at least one.
template <typename Class> bool skipRun(QStringView line, qsizetype &i, Class inClass)
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

namespace {

// As QString::toLatin1() has it, without a byte array of its own.
void appendLatin1(QByteArray &out, QStringView text)
{
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char *p = out.data() + at;
    for (const QChar c : text)
        *p++ = c.unicode() > 0xff ? '?' : char(c.unicode());
}

} // namespace

void Reader::newReport()
{
    m_seats = 0;
    m_seatText = 0;
    m_overflowed = false;
}

bool Reader::readLine(QByteArrayView line, const watchlist::Matcher &watched, QString &server,
    QStringList &entries, QByteArray &traces)
{
    // Both kinds of line start with an ASCII keyword, so every other line is
    // passed over without being decoded.
    if (line.startsWith("SERVER ")) {
        const auto name = serverName(m_decoder.decode(line));
        if (!name)
            return false;
        server.resize(name->size());
        std::copy(name->begin(), name->end(), server.begin());
        return true;
    }
    if (!line.startsWith("CLIENTS "))
        return false;
    const auto players = playerList(m_decoder.decode(line));
    if (!players)
        return false;
    if (watched.isEmpty())
        return true;
    forEachPlayer(*players, [&](QStringView name) {
        if (m_overflowed || !watched.isWatched(name))
            return;
        m_seatText += name.size() + server.size();
        if (++m_seats > maxSeats || m_seatText > maxSeatText) {
            m_overflowed = true;
            return;
        }
        appendLatin1(traces, name);
        traces.append(" on ");
        appendLatin1(traces, server);
        traces.append('\n');
        entries.append(presence::entry(name, server));
    });
    return true;
}

void PollReader::start()
{
    m_splitter.reset();
    m_reader.newReport();
    m_received = 0;
    m_reset = false;
}

void PollReader::read(QByteArrayView bytes, const watchlist::Matcher &watched, QString &server,
    QStringList &entries, QByteArray &traces)
{
    if (pastBound())
        return;
    m_received += bytes.size();
    if (pastBound())
        return;
    m_splitter.feed(bytes.data(), bytes.size(), [&](QByteArrayView line) {
        if (!m_reader.overflowed())
            m_reader.readLine(line, watched, server, entries, traces);
    });
}

PollReader::Verdict PollReader::verdict() const
{
    if (pastBound())
        return Verdict::PastBound;
    if (m_reset)
        return Verdict::Reset;
    if (m_splitter.inLine())
        return Verdict::CutOff;
    return Verdict::Report;
}

} // namespace report
