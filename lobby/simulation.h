#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <vector>

// A made-up lobby: a number of game servers and a population of players, of
// whom about two in three are on some server at any time (half, when there is
// only one server). Each advance() is
// one poll later. Everything follows from the seed through the simulation's
// own random numbers, so a seed gives the same reports on every machine and
// with every standard library; the benchmarks rely on that for their inputs.
class LobbySimulation final
{
public:
    static constexpr quint64 defaultSeed = 1;
    static constexpr int defaultServers = 12;
    static constexpr int defaultPlayers = 60;
    static constexpr double defaultChurn = 0.075;

    // Beyond these a report would outgrow what the watcher accepts from a
    // lobby long before anything else gives way.
    static constexpr int maxServers = 1000000;
    static constexpr int maxPlayers = 5000000;

    // The size of lobby/demo-list.cfg, and of what --write-list writes.
    static constexpr int demoPlainNames = 4;
    static constexpr int demoTags = 2;

    // `churn` is the share of the players who join, leave or change servers
    // on each advance(); at least one player does, whatever the share.
    // Counts are clamped to [0, max], the churn to [0, 1].
    explicit LobbySimulation(quint64 seed = defaultSeed, int servers = defaultServers,
        int players = defaultPlayers, double churn = defaultChurn);

    // The lobby's report as it is now: every server line, each followed by
    // a clients line unless nobody plays there. UTF-8, lines end in LF.
    QByteArray report() const;

    void advance();

    // A list.cfg that catches some of the players: up to `plainNames` player
    // names (without clan tags) and up to `tags` clan tags, after a few
    // comment lines on the format. About half the names belong to players
    // online now, the rest to players who may turn up later.
    QByteArray sampleWatchList(int plainNames, int tags) const;

private:
    int pickServer();
    void seat(int player, int server);

    quint64 m_seed;
    quint64 m_random;
    int m_changesPerStep = 0;
    quint64 m_clock = 0; // orders the players on a server by when they came

    std::vector<QByteArray> m_serverLines; // "SERVER n; token name\n", ready to send
    std::vector<QByteArray> m_names; // UTF-8, unique
    std::vector<quint8> m_tagLength; // bytes of clan tag at the start of each name
    std::vector<int> m_serverOf; // -1 while offline
    std::vector<quint64> m_seatedAt;
    std::vector<int> m_drawOrder; // a permutation of the players, reshuffled in part by each advance()
};
