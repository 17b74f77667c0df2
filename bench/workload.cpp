#include "workload.h"

#include "lines.h"
#include "simulation.h"

#include <QBuffer>
#include <QSet>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace workload {

namespace {

// splitmix64, as the simulation uses: defined bit for bit.
quint64 nextRandom(quint64 &state)
{
    quint64 z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

template <typename T> void shuffle(std::vector<T> &v, quint64 &state)
{
    for (size_t i = v.size(); i > 1; --i)
        std::swap(v[i - 1], v[size_t(nextRandom(state) % i)]);
}

template <typename Line> void forEachLine(const QByteArray &text, Line &&line)
{
    qsizetype start = 0;
    for (qsizetype end; (end = text.indexOf('\n', start)) >= 0; start = end + 1)
        line(QByteArrayView(text).sliced(start, end - start));
}

bool isListable(QByteArrayView name)
{
    return !name.isEmpty()
        && std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

} // namespace

QByteArray watchList(const QByteArray &report, const Shape &shape, quint64 seed)
{
    // The players' names without their clan tags, and the tags.
    std::vector<QByteArray> names;
    std::vector<QByteArray> tags;
    QSet<QByteArray> seenNames;
    QSet<QByteArray> seenTags;
    forEachLine(report, [&](QByteArrayView line) {
        if (!line.startsWith("CLIENTS "))
            return;
        const QByteArrayView list = line.sliced(line.indexOf("; ") + 2);
        for (const QByteArray &player : list.toByteArray().split('\t')) {
            const qsizetype close = player.startsWith('[') ? player.indexOf(']') : -1;
            const QByteArray name = player.mid(close + 1);
            if (close > 0 && !seenTags.contains(player.left(close + 1))) {
                seenTags.insert(player.left(close + 1));
                tags.push_back(player.left(close + 1));
            }
            if (isListable(name) && !seenNames.contains(name.toLower())) {
                seenNames.insert(name.toLower());
                names.push_back(name);
            }
        }
    });
    quint64 random = seed;
    shuffle(names, random);
    std::sort(tags.begin(), tags.end()); // the report's order depends on the seed too
    shuffle(tags, random);

    std::vector<QByteArray> entries;
    const int online = std::min(int(names.size()), shape.plainNames / 2);
    for (int i = 0; i < online; ++i)
        entries.push_back(names[size_t(i)]);
    // Names of players who are not on: the simulation's names never end in a
    // digit of their own, nor run to ten million of one name.
    static const char *const absent[] = {"Sam", "Kira", "Zed", "Nina", "Hugo", "Vera", "Wolfgang", "Xia"};
    for (int i = online; i < shape.plainNames; ++i)
        entries.push_back(
            QByteArray(absent[size_t(i) % std::size(absent)]) + QByteArray::number(10000000 + i));
    const int live = std::min(int(tags.size()), shape.liveTags);
    for (int i = 0; i < live; ++i)
        entries.push_back(tags[size_t(i)]);
    static const char *const clans[] = {"Owl", "Neo", "Ace", "Orca", "Lynx", "Kite", "Moth", "Zen"};
    for (int i = live; i < shape.tags; ++i)
        entries.push_back(
            '[' + QByteArray(clans[size_t(i) % std::size(clans)]) + QByteArray::number(i) + ']');
    shuffle(entries, random);

    QByteArray list = "# Benchmark watch list: " + QByteArray::number(shape.plainNames) + " names, "
        + QByteArray::number(shape.tags) + " tags\n";
    for (const QByteArray &entry : entries)
        list += "LIST += " + entry + '\n';
    return list;
}

QStringList listEntries(const QByteArray &listFile)
{
    QByteArray bytes = listFile;
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    QStringList entries;
    lines::forEachFileLine(
        file,
        [&](const QString &line) {
            if (lines::isComment(line))
                return;
            if (auto name = watchlist::entryName(line))
                entries.append(*name);
        },
        lines::Text::Utf8OrLatin1);
    return entries;
}

Lobby lobby(const Shape &shape, quint64 seed)
{
    const LobbySimulation simulation(seed, shape.servers, shape.population);
    Lobby lobby;
    lobby.report = simulation.report();
    lobby.listFile = watchList(lobby.report, shape, seed);
    lobby.entries = listEntries(lobby.listFile);
    lobby.players = lobby.report.count('\t');
    forEachLine(lobby.report, [&](QByteArrayView line) { lobby.players += line.startsWith("CLIENTS "); });
    return lobby;
}

QStringList everyone(const QByteArray &report)
{
    QStringList entries;
    QString server;
    forEachLine(report, [&](QByteArrayView line) {
        if (line.startsWith("SERVER ")) {
            server = QString::fromUtf8(line.sliced(line.lastIndexOf(' ') + 1));
        } else if (line.startsWith("CLIENTS ")) {
            const QByteArrayView list = line.sliced(line.indexOf("; ") + 2);
            for (const QByteArray &player : list.toByteArray().split('\t'))
                entries.append(QString::fromUtf8(player) + u' ' + server);
        }
    });
    return entries;
}

Polls polls(int entries, quint64 seed)
{
    // The simulation keeps about fifteen players to a server and two in
    // three of its population online.
    LobbySimulation simulation(seed, std::max(1, entries / 15), entries * 3 / 2);
    Polls polls;
    polls.before = everyone(simulation.report());
    simulation.advance();
    polls.now = everyone(simulation.report());
    return polls;
}

QByteArray slice(const QByteArray &report, qsizetype size)
{
    const qsizetype end = report.indexOf('\n', std::min(size, report.size()) - 1);
    return end < 0 ? report : report.left(end + 1);
}

} // namespace workload
