#pragma once

#include "watchlist.h"

#include <QByteArray>
#include <QStringList>

// Seeded inputs for the benchmarks, drawn from the lobby simulation: the same
// seed gives the same bytes on every machine.
namespace workload {

struct Lobby
{
    QByteArray report;
    QByteArray listFile; // list.cfg
    QStringList entries; // list.cfg as the watcher reads it
    qsizetype players = 0; // named in the report
};

struct Shape
{
    int servers;
    int population; // about two in three of them are online
    int plainNames; // half of them online now
    int tags;
    int liveTags; // of the tags, how many players wear; the others nobody does
};

// 200 servers, 3,000 players online, 50 entries of which 5 tags.
constexpr Shape typical{200, 4500, 45, 5, 2};
// 2,000 servers, 30,000 players online, 1,000 entries of which 20 tags.
constexpr Shape large{2000, 45000, 980, 20, 1};

Lobby lobby(const Shape &shape, quint64 seed = 1);

// A watch list for `report`: plain names of players in it and of players
// not in it, half and half; tags that some of its players wear and tags that
// none do. ASCII only, which reads alike as UTF-8 and as Latin-1.
QByteArray watchList(const QByteArray &report, const Shape &shape, quint64 seed);

// The entries of a list.cfg, read the way the watcher reads its file.
QStringList listEntries(const QByteArray &listFile);

// The presence entries of every player of a report, in report order: what
// the watcher would find if it watched everyone.
QStringList everyone(const QByteArray &report);

// Two successive polls of a lobby of about `entries` players online: most
// stay, some move, some leave and some arrive.
struct Polls
{
    QStringList now;
    QStringList before;
};
Polls polls(int entries, quint64 seed = 1);

// The first bytes of `report`, cut after a line feed, at least `size` of them.
QByteArray slice(const QByteArray &report, qsizetype size);

} // namespace workload
