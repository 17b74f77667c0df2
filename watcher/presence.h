#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

// A presence entry is a watched player's name, one space and the server's
// name. The notice compares the entries of two polls and tells the user, in a
// few lines of coloured HTML, who stays, who is new on a server and who left.
namespace presence {

struct Split
{
    QStringView player;
    QStringView server;
    friend bool operator==(const Split &a, const Split &b)
    {
        return a.player == b.player && a.server == b.server;
    }
};

// Splits an entry at its one white-space character. An entry with more than
// one (a player name with a space in it), or with nothing on either side of
// it, gives an empty player and an empty server.
Split split(QStringView entry);

// The trace of a watched player found: "<player> on <server>\n" in Latin-1,
// "?" for any other character. A server's name is word characters only, so
// the entry's last space is the one before it, whatever the player's name holds.
QByteArray traceLine(QStringView entry);

struct Notice
{
    enum Kind { None, Info, Important };
    Kind kind = None;
    QString text;
};

// The notice for a poll that found `now` after one that found `before`.
// First, in the order of `now`: a stay line for each equal entry of `before`,
// or an arrival line when there is none. Then, in the order of `before`, a
// departure line for each entry whose player and server are both gone. An
// arrival makes the notice important; otherwise any difference between the
// two lists, order included, makes it an ordinary one. Names are escaped, so
// a player called "<b>" is shown as those three characters.
Notice compare(const QStringList &now, const QStringList &before);

} // namespace presence
