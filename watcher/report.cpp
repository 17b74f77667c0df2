#include "report.h"

#include <QStringBuilder>

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

// Reads "<keyword><digits>; " and gives the position after it, or -1.
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
    if (!skipRun(line, i, isWordChar) || i + 1 != line.size() || line[i] != u'\n')
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

void PollReader::start()
{
    m_entries.clear();
    m_rest.clear();
    m_received = 0;
    m_players = 0;
    m_seats = 0;
    m_seatText = 0;
    m_reset = false;
    m_pastBound = false;
}

void PollReader::read(QByteArrayView bytes)
{
    m_received += bytes.size();
    m_pastBound = m_pastBound || m_received > maxReportSize;
    while (!m_pastBound && !bytes.isEmpty()) {
        const qsizetype lf = bytes.indexOf('\n');
        if (lf < 0) {
            m_rest.append(bytes);
            m_pastBound = m_rest.size() > maxLineLength;
            return;
        }
        if (m_rest.isEmpty()) {
            readLine(bytes.first(lf + 1));
        } else {
            m_rest.append(bytes.first(lf + 1));
            readLine(m_rest);
            m_rest.clear();
        }
        bytes = bytes.sliced(lf + 1);
    }
}

void PollReader::readLine(QByteArrayView line)
{
    if (line.size() > maxLineLength + 1) { // + 1 for the line feed
        m_pastBound = true;
        return;
    }
    // Both kinds of line start with an ASCII keyword, so every other line is
    // passed over without being decoded.
    const bool serverLine = line.startsWith("SERVER ");
    if (!serverLine && !line.startsWith("CLIENTS "))
        return;
    const qsizetype nul = line.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? line : line.first(nul));
    if (serverLine) {
        if (const auto name = serverName(text))
            m_server = name->toString();
        return;
    }
    const auto players = playerList(text);
    if (!players)
        return;
    forEachPlayer(*players, [this](QStringView name) {
        if (m_pastBound || (m_pastBound = ++m_players > maxPlayers) || !m_watched.isWatched(name))
            return;
        m_seatText += name.size() + 1 + m_server.size();
        if (++m_seats > maxSeats || m_seatText > maxSeatText) {
            m_pastBound = true;
            return;
        }
        m_entries.append(name % u' ' % m_server);
    });
}

PollReader::Verdict PollReader::verdict() const
{
    if (m_pastBound)
        return Verdict::PastBound;
    if (m_reset)
        return Verdict::Reset;
    // A last line without its line feed is not taken. Only the start of a
    // server or clients line is evidence of a lobby cut off mid-report; any
    // other tail (a NUL, a blank, noise) changes nothing.
    if (m_rest.startsWith("SERVER ") || m_rest.startsWith("CLIENTS "))
        return Verdict::CutOff;
    return Verdict::Report;
}

} // namespace report
