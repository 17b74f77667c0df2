#pragma once

#include "watchlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The two kinds of line in a lobby report that mean something. Each line is
// taken with its line feed; a line that lost it (one cut short by a NUL byte)
// is neither kind.
//
//   SERVER <digits>; <token> <server name>\n
//   CLIENTS <digits>; <player>\t<player>\t...\n
//
// Digits, white space and word characters are QRegExp's classes, judged one
// UTF-16 code unit at a time: a server named in Cyrillic or with a combining
// accent is a word, a no-break space is white space, Arabic-Indic digits are
// digits, and a character outside the Basic Multilingual Plane is never a
// word character.
namespace report {

// The server name of a server line.
std::optional<QStringView> serverName(QStringView line);

// The player list of a clients line: everything after "CLIENTS <digits>; " up
// to the final line feed, at least one character.
std::optional<QStringView> playerList(QStringView line);

// Calls `name` with each player name of a player list, as QRegExp's minimal
// "[\t](.+)[\t]" finds them in the list with a tab put before and after it,
// each search starting one character after the previous match began. So the
// tab that closes a name opens the next, and two tabs in a row (or a tab at
// the start) also yield a name that begins with the tab.
template <typename Sink> void forEachPlayer(QStringView list, Sink &&name)
{
    // Positions are the list's own: the tab before it stands at -1, the one
    // after it at size.
    const qsizetype size = list.size();
    qsizetype open = -1;
    while (open + 2 <= size) {
        qsizetype close = list.indexOf(u'\t', open + 2);
        if (close < 0)
            close = size;
        name(list.sliced(open + 1, close - open - 1));
        open = list[open + 1] == u'\t' ? open + 1 : close;
    }
}

// Reads the answer to one poll as the socket hands it over, keeps what it
// says about the watched players and judges it when the connection ends.
// Every bound of a report is here.
class PollReader final
{
public:
    // How an answer ended. Only a whole report is compared with the poll
    // before: the others carry evidence that the lobby did not say all it
    // had, and comparing them would tell the user that players left.
    enum class Verdict {
        Report, // closed in order, whatever it held, even nothing
        CutOff, // closed in the middle of a server or clients line
        Reset, // reset by the lobby rather than closed
        PastBound, // past one of the bounds below
    };

    // Bounds on one answer, past which it is not believed. A line past
    // maxLineLength is a damaged answer. The others keep the GUI thread's
    // time for one poll, reading, comparison and the bubble's layout of the
    // notice included, within 100 ms of an empty one's (BENCHMARKS.md): the
    // notice costs about 30 us a line, every player name about 70 ns. A
    // lobby of 30,000 players sends 400 kB.
    static constexpr qsizetype maxLineLength = 1024 * 1024;
    static constexpr qint64 maxReportSize = 4 * 1024 * 1024;
    static constexpr qsizetype maxPlayers = 300000; // player names, watched or not
    static constexpr qsizetype maxSeats = 2000; // watched seats
    static constexpr qsizetype maxSeatText = 64 * 1024; // characters of their entries

    // Asks `watched`, which must outlive the reader, about every player.
    explicit PollReader(const watchlist::Matcher &watched)
        : m_watched(watched)
    {
    }

    // Forgets the answer before, for a new poll, but not its server: a
    // clients line before the first server line belongs to the server named
    // last, in this poll or an earlier one.
    void start();
    // Reads bytes as they arrived, cut into lines wherever they fall. Reads
    // nothing once past a bound.
    void read(QByteArrayView bytes);
    // The lobby reset the connection, as the caller learnt from the socket.
    void lobbyReset() { m_reset = true; }
    bool pastBound() const { return m_pastBound; }
    // For an answer whose connection has ended.
    Verdict verdict() const;

    // The server of the last server line read since the reader was made.
    const QString &server() const { return m_server; }
    // The presence entries of the watched players read since the last call,
    // in order, duplicates included.
    QStringList takeEntries() { return std::exchange(m_entries, {}); }

private:
    void readLine(QByteArrayView line);

    const watchlist::Matcher &m_watched;
    QString m_server;
    QStringList m_entries;
    QByteArray m_rest; // of a line not ended yet
    qint64 m_received = 0;
    qsizetype m_players = 0;
    qsizetype m_seats = 0;
    qsizetype m_seatText = 0;
    bool m_reset = false;
    bool m_pastBound = false;
};

} // namespace report
