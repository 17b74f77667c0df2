#pragma once

#include <QString>
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
template <typename Sink>
void forEachPlayer(QStringView list, Sink &&name)
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
        const qsizetype close = list.indexOf(u'\t', from);
        const qsizetype end = close < 0 ? size : close;
        name(list.sliced(open + 1, end - open - 1));
        open = list.indexOf(u'\t', open + 1);
        if (open < 0)
            return;
    }
}

} // namespace report
