#pragma once

#include "fastpath.h"
#include "lines.h"
#include "watchlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The two kinds of line in a lobby report that mean something. Each line is
// taken with its line feed; a line that lost it (the last one of a report, or
// one cut short by a NUL byte) is neither kind.
//
//   SERVER <digits>; <token> <server name>\n
//   CLIENTS <digits>; <player>\t<player>\t...\n
//
// Digits, white space and word characters are the Unicode classes: a server
// named in Cyrillic or with a combining accent is a word, a no-break space is
// white space, and Arabic-Indic digits are digits. They are judged one UTF-16
// code unit at a time, so a character outside the Basic Multilingual Plane is
// never a word character.
namespace report {

// The server name of a server line.
std::optional<QStringView> serverName(QStringView line);

// The player list of a clients line: everything after "CLIENTS <digits>; " up
// to the final line feed, at least one character.
std::optional<QStringView> playerList(QStringView line);

// Calls `name` with each player name of a player list. Names are separated by
// single tabs. Two tabs in a row (or a tab at the start of the list) also
// yield a name that begins with the tab and runs to the next one: each name
// is searched for from the character after the tab that opened the previous
// one, so the tab that closes a name opens the next, and an empty name is
// never a name.
// The first tab at or after `from`, or -1. A plain loop: names are a few
// characters long, too short for a vectorised search to pay for its call.
inline qsizetype nextTab(QStringView list, qsizetype from)
{
    const char16_t *const s = list.utf16();
    for (qsizetype i = from; i < list.size(); ++i) {
        if (s[i] == u'\t')
            return i;
    }
    return -1;
}

template <typename Sink> void forEachPlayer(QStringView list, Sink &&name)
{
    // The list is read as if it had a tab before and after it; positions are
    // the list's own, so the tab before it stands at -1 and the one after at size.
    const qsizetype size = list.size();
    qsizetype open = -1;
    for (;;) {
        // The closing tab is the first one at least two places after the opening one.
        const qsizetype from = open + 2;
        if (from > size)
            return;
        const qsizetype close = nextTab(list, from);
        const qsizetype end = close < 0 ? size : close;
        name(list.sliced(open + 1, end - open - 1));
        // The next name opens at the first tab after this one's opening tab:
        // the one right after it, or else the one that closed this name.
        open = from - 1 < size && list[from - 1] == u'\t' ? from - 1 : close;
        if (open < 0)
            return;
    }
}

// Reads a report one line at a time, as the watcher gets it, and keeps what
// it says about the watched players. The same reader serves every report of
// a watcher.
class Reader final
{
public:
    // Reads one line, line feed included. A server line makes its server the
    // current one, `server`; the caller keeps it from report to report, so a
    // clients line before any server line of a report belongs to the server
    // named last in an earlier one. A clients line appends, for each watched
    // player on it, in order and duplicates included, a presence entry to
    // `entries` and the line "<player> on <server>\n" in Latin-1 ("?" for any
    // other character) to `traces`. Other lines change nothing. Tells whether
    // the line was a server or a clients line.
    bool readLine(QByteArrayView line, const watchlist::Matcher &watched, QString &server,
        QStringList &entries, QByteArray &traces);

    // Bounds on the watched seats of one report, ten times what a huge lobby
    // with a watch list of clan tags shows. A report past them is not
    // believed, and the seats past the bound are neither kept nor traced.
    static constexpr qsizetype maxSeats = 100000;
    static constexpr qsizetype maxSeatText = 8 * 1024 * 1024; // characters of player and server names

    // Starts counting towards the bounds afresh, for the next report.
    void newReport();
    // Whether the report read since newReport() went past a bound.
    bool overflowed() const { return m_overflowed; }

private:
    fastpath::LineDecoder m_decoder;
    qsizetype m_seats = 0;
    qsizetype m_seatText = 0;
    bool m_overflowed = false;
};

// Reads the answer to one poll, as the socket hands it over, and judges it
// when the connection ends. The watcher keeps the socket and the timers and
// asks this object for the verdict in one place.
class PollReader final
{
public:
    // How an answer ended. Only a whole report is compared with the poll
    // before: the others carry evidence that the lobby did not say all it
    // had, and comparing them would tell the user that players left.
    enum class Verdict {
        Report, // closed in order after whole lines, whatever they held, even nothing
        CutOff, // closed in the middle of a line
        Reset, // reset by the lobby rather than closed
        PastBound, // longer than maxReportSize, or past Reader's bounds on watched seats
    };

    // A poll's answer is not believed past this many bytes.
    static constexpr qint64 maxReportSize = 64 * 1024 * 1024;

    // Forgets the answer before, for a new poll.
    void start();
    // Reads bytes as they arrived, cut into lines wherever they fall: a
    // server line sets `server` (kept by the caller from poll to poll); for
    // each watched player of a clients line, a presence entry is appended to
    // `entries` and a trace line to `traces`. Reads nothing once past a bound.
    void read(QByteArrayView bytes, const watchlist::Matcher &watched, QString &server, QStringList &entries,
        QByteArray &traces);
    // The lobby reset the connection, as the caller learnt from the socket.
    void lobbyReset() { m_reset = true; }
    bool pastBound() const { return m_received > maxReportSize || m_reader.overflowed(); }
    // For an answer whose connection has ended.
    Verdict verdict() const;

private:
    lines::Splitter m_splitter;
    Reader m_reader;
    qint64 m_received = 0;
    bool m_reset = false;
};

} // namespace report
