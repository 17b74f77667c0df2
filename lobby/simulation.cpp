#include "simulation.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// splitmix64: small, fast and defined bit for bit. The standard
// distributions are not; their results differ between library versions.
quint64 nextRandom(quint64 &state)
{
    quint64 z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A number in [0, n), for n below 2^32.
int below(quint64 &state, int n)
{
    return int(((nextRandom(state) >> 32) * quint64(n)) >> 32);
}

template <typename T, size_t N> const T &pick(quint64 &state, const T (&pool)[N])
{
    return pool[below(state, int(N))];
}

// Server names are word characters only, and none is another one plus
// "_<digits>", so the suffixes that keep large lobbies apart never collide.
// All of them lie in the Basic Multilingual Plane: the watcher judges word
// characters one UTF-16 code unit at a time.
const char *const serverPool[] = {"Arena", "Dust_2", "Крепость", "Château", "Fortress", "Lagoon", "Nordlicht",
    "Κάστρο", "Bastion", "Canyon", "Zitadelle", "Mühle", "Harbor", "Frostbite", "Tundra", "Sakura", "要塞",
    "Oasis", "Quarry", "Ruins", "Summit", "Vulkan", "Überfall", "Fjord", "Óbidos", "Ciudadela", "Twin_Peaks",
    "Łódź", "Mirage", "Plateau"};

// No player name ends in a digit, so "Sam" + "2" can never meet another
// name of the pools.
const char *const plainPool[] = {"Sam", "Mira", "Kira", "Zed", "Tom", "Alex", "Nina", "Otto", "Lena", "Ivan",
    "Rosa", "Finn", "Hugo", "Ada", "Max", "Eli", "Juno", "Rex", "Vera", "Yuki", "Ben", "Cleo", "Dex", "Ivy",
    "Leo", "Nox", "Pia", "Rudi", "Tess", "Uma", "Wes", "Xia"};
// ASCII only, so that sampleWatchList() can hand them to list.cfg.
const char *const tagPool[] = {"[AB]", "[Wolf]", "[xX]", "[GG]", "[RIP]", "[Fox]", "[404]", "[pro]"};
const char *const spacedPool[]
    = {"Big Tom", "Old Sam", "Mad Max", "Little Mira", "Dr Zed", "Sir Hugo", "The Boss", "Lady Ada"};
const char *const nonAsciiPool[] = {"Zoë", "Łukasz", "Дмитрий", "Søren", "José", "Jürgen", "Ærin", "Çağla",
    "Ольга", "Åsa", "Renée", "Ngọc", "Şule", "太郎", "민준", "Ἑλένη"};
// Names a notice has to escape or a parser might trip over.
const char *const oddPool[] = {"Tom & Jerry", "<b>Rex</b>", "Kira's", "-=Zed=-", "Ben;Ada", "#Juno"};

struct Name
{
    QByteArray text;
    int tagLength = 0;
};

Name randomName(quint64 &random)
{
    // Out of 20: 8 plain, 5 with a clan tag, 2 with spaces, 4 non-ASCII, 1 odd.
    const int kind = below(random, 20);
    if (kind < 8)
        return {pick(random, plainPool)};
    if (kind < 13) {
        const QByteArray tag = pick(random, tagPool);
        const char *name = below(random, 4) == 0 ? pick(random, nonAsciiPool) : pick(random, plainPool);
        return {tag + name, int(tag.size())};
    }
    if (kind < 15)
        return {pick(random, spacedPool)};
    if (kind < 19)
        return {pick(random, nonAsciiPool)};
    return {pick(random, oddPool)};
}

// Each draw is a statement of its own: the operands of one expression may be
// evaluated in any order, and another compiler would draw them differently.
QByteArray randomToken(quint64 &random)
{
    const int port = 27960 + below(random, 8);
    const int kind = below(random, 10);
    const int a = below(random, 256);
    const int b = below(random, 256);
    const int c = 1 + below(random, 254);
    if (kind < 7)
        return QStringLiteral("10.%1.%2.%3:%4").arg(a).arg(b).arg(c).arg(port).toLatin1();
    if (kind < 9) {
        static const char *const regions[] = {"eu", "us", "asia", "au"};
        return QStringLiteral("%1%2.lobby.example.net:%3")
            .arg(QLatin1StringView(regions[a % 4]))
            .arg(1 + b % 9)
            .arg(port)
            .toLatin1();
    }
    return QStringLiteral("[fd00::%1]:%2").arg(a * 256 + b, 0, 16).arg(port).toLatin1();
}

// The watch list file is read one byte to a character, as Latin-1, while
// the report is UTF-8: only ASCII means the same on both sides.
bool isListable(QByteArrayView name)
{
    return !name.isEmpty()
        && std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

} // namespace

LobbySimulation::LobbySimulation(quint64 seed, int servers, int players, double churn)
    : m_seed(seed)
    , m_random(seed)
{
    servers = qBound(0, servers, maxServers);
    players = qBound(0, players, maxPlayers);
    churn = std::isnan(churn) ? defaultChurn : qBound(0.0, churn, 1.0);

    std::vector<const char *> serverNames(std::begin(serverPool), std::end(serverPool));
    for (size_t i = serverNames.size() - 1; i > 0; --i)
        std::swap(serverNames[i], serverNames[size_t(below(m_random, int(i) + 1))]);
    m_serverLines.reserve(size_t(servers));
    for (int s = 0; s < servers; ++s) {
        const size_t round = size_t(s) / serverNames.size();
        QByteArray name = serverNames[size_t(s) % serverNames.size()];
        if (round > 0)
            name += '_' + QByteArray::number(quint64(round) + 1);
        m_serverLines.push_back(
            "SERVER " + QByteArray::number(s + 1) + "; " + randomToken(m_random) + ' ' + name + '\n');
    }

    QHash<QByteArray, int> taken;
    m_names.reserve(size_t(players));
    m_tagLength.reserve(size_t(players));
    for (int p = 0; p < players; ++p) {
        Name name = randomName(m_random);
        const int earlier = taken[name.text]++;
        if (earlier > 0)
            name.text += QByteArray::number(earlier + 1);
        m_names.push_back(name.text);
        m_tagLength.push_back(quint8(name.tagLength));
    }

    m_serverOf.assign(size_t(players), -1);
    m_seatedAt.assign(size_t(players), 0);
    m_drawOrder.resize(size_t(players));
    for (int p = 0; p < players; ++p) {
        m_drawOrder[size_t(p)] = p;
        // The share at which joins and leaves balance (see advance()): two in
        // three, or one in two on a lone server, where nobody can move.
        const int share = servers == 1 ? 2 : 3;
        if (servers > 0 && below(m_random, share) < share - 1)
            seat(p, pickServer());
    }
    if (servers > 0 && players > 0)
        m_changesPerStep = qBound(1, int(std::lround(churn * players)), players);
}

int LobbySimulation::pickServer()
{
    // The lesser of two draws: lobbies list their busy servers first, and
    // the last few are often empty.
    const int servers = int(m_serverLines.size());
    const int one = below(m_random, servers);
    const int other = below(m_random, servers);
    return std::min(one, other);
}

void LobbySimulation::seat(int player, int server)
{
    m_serverOf[size_t(player)] = server;
    m_seatedAt[size_t(player)] = m_clock++;
}

void LobbySimulation::advance()
{
    const int players = int(m_names.size());
    const int servers = int(m_serverLines.size());
    for (int i = 0; i < m_changesPerStep; ++i) {
        // A partial shuffle draws distinct players, so no two changes in one
        // step can undo each other and every step shows in the report.
        std::swap(m_drawOrder[size_t(i)], m_drawOrder[size_t(i + below(m_random, players - i))]);
        const int p = m_drawOrder[size_t(i)];
        const int current = m_serverOf[size_t(p)];
        if (current < 0) {
            seat(p, pickServer());
        } else if (servers == 1 || below(m_random, 2) == 0) {
            // Every offline player drawn joins and half of the online ones
            // leave, the others move: the balance is at two in three online.
            // With nowhere to move to, all of them leave, and it is at half.
            m_serverOf[size_t(p)] = -1;
        } else {
            int next;
            do
                next = pickServer();
            while (next == current);
            seat(p, next);
        }
    }
}

QByteArray LobbySimulation::report() const
{
    const size_t servers = m_serverLines.size();

    // Counting sort by server, then each server's players in the order they came.
    std::vector<int> start(servers + 1, 0);
    for (int s : m_serverOf) {
        if (s >= 0)
            ++start[size_t(s) + 1];
    }
    for (size_t s = 0; s < servers; ++s)
        start[s + 1] += start[s];
    std::vector<int> seated(static_cast<size_t>(start[servers]));
    std::vector<int> next(start.begin(), start.end() - 1);
    qsizetype size = 0;
    for (size_t p = 0; p < m_serverOf.size(); ++p) {
        if (const int s = m_serverOf[p]; s >= 0) {
            seated[size_t(next[size_t(s)]++)] = int(p);
            size += m_names[p].size() + 1;
        }
    }
    for (const QByteArray &line : m_serverLines)
        size += line.size() + 24;

    QByteArray text;
    text.reserve(size);
    for (size_t s = 0; s < servers; ++s) {
        text += m_serverLines[s];
        const auto first = seated.begin() + start[s];
        const auto last = seated.begin() + start[s + 1];
        if (first == last)
            continue;
        std::sort(
            first, last, [this](int a, int b) { return m_seatedAt[size_t(a)] < m_seatedAt[size_t(b)]; });
        text += "CLIENTS " + QByteArray::number(qsizetype(last - first)) + "; ";
        for (auto p = first; p != last; ++p) {
            if (p != first)
                text += '\t';
            text += m_names[size_t(*p)];
        }
        text += '\n';
    }
    return text;
}

QByteArray LobbySimulation::sampleWatchList(int plainNames, int tags) const
{
    QByteArray list = "# Watch list for Lookout: one \"LIST += <name>\" line per player to watch.\n"
                      "# A name matches a player's whole name, in any case, with or without a\n"
                      "# clan tag in front. A name in square brackets, such as [AB], is a clan\n"
                      "# tag: it is looked for anywhere in a player's name, in any case.\n"
                      "# Players of: lookout-lobby --simulate --seed "
        + QByteArray::number(m_seed) + " --servers " + QByteArray::number(qsizetype(m_serverLines.size()))
        + " --players " + QByteArray::number(qsizetype(m_names.size())) + '\n';

    // Players online now, in population order (which is random), then the
    // others: the first names are caught at once, the later ones arrive.
    std::vector<int> online;
    std::vector<int> offline;
    for (size_t p = 0; p < m_names.size(); ++p)
        (m_serverOf[p] >= 0 ? online : offline).push_back(int(p));

    QSet<QByteArray> seen;
    const auto takeNames = [&](const std::vector<int> &from, int count) {
        int taken = 0;
        for (auto p = from.begin(); p != from.end() && taken < count; ++p) {
            const QByteArray name = m_names[size_t(*p)].mid(m_tagLength[size_t(*p)]);
            if (isListable(name) && !seen.contains(name.toLower())) {
                seen.insert(name.toLower());
                list += "LIST += " + name + '\n';
                ++taken;
            }
        }
        return taken;
    };
    const int now = takeNames(online, (plainNames + 1) / 2);
    const int later = takeNames(offline, plainNames - now);
    takeNames(online, plainNames - now - later);

    int tagsTaken = 0;
    for (const std::vector<int> *group : {&online, &offline}) {
        for (auto p = group->begin(); p != group->end() && tagsTaken < tags; ++p) {
            const QByteArray tag = m_names[size_t(*p)].left(m_tagLength[size_t(*p)]);
            if (!tag.isEmpty() && !seen.contains(tag.toLower())) {
                seen.insert(tag.toLower());
                list += "LIST += " + tag + '\n';
                ++tagsTaken;
            }
        }
    }
    return list;
}
