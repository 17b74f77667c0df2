#include "ibubble.h"
#include "lookout.h"
#include "presence.h"
#include "reference.h"
#include "report.h"
#include "workload.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>

using namespace Qt::StringLiterals;

namespace {

// What the watcher does with a report as the socket hands it over, in the
// pieces lookOut::processPackage reads at once. The traces are made and dropped.
QStringList readReport(QByteArrayView report, const watchlist::Matcher &watched)
{
    constexpr qsizetype chunk = 64 * 1024;
    report::PollReader reader(watched);
    QStringList found;
    for (qsizetype at = 0; at < report.size(); at += chunk) {
        reader.read(report.sliced(at, std::min(chunk, report.size() - at)));
        const QStringList entries = reader.takeEntries();
        for (const QString &entry : entries)
            benchmark::DoNotOptimize(presence::traceLine(entry));
        found += entries;
    }
    return found;
}

void readBench(benchmark::State &state, const QByteArray &report, const QStringList &entries)
{
    const watchlist::Matcher watched(entries);
    for (auto _ : state)
        benchmark::DoNotOptimize(readReport(report, watched));
    state.SetBytesProcessed(state.iterations() * report.size());
}

void naiveBench(benchmark::State &state, const QByteArray &report, const QStringList &entries)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(reference::online(report, entries));
    state.SetBytesProcessed(state.iterations() * report.size());
}

const workload::Polls &pollsOf(int entries)
{
    static std::map<int, workload::Polls> cache;
    auto it = cache.find(entries);
    if (it == cache.end())
        it = cache.emplace(entries, workload::polls(entries)).first;
    return it->second;
}

void compareBench(benchmark::State &state, const workload::Polls &polls, bool naively)
{
    for (auto _ : state) {
        const QString text = naively ? reference::compare(polls.now, polls.before).text
                                     : presence::compare(polls.now, polls.before).text;
        benchmark::DoNotOptimize(text.size());
    }
    state.SetItemsProcessed(state.iterations() * (polls.now.size() + polls.before.size()));
}

// The least a hashed comparison does: a QSet of the poll before, and a
// lookup of every entry now. How it grows from 10,000 to 100,000 entries is
// the machine's and Qt's, not the comparison's.
void qsetBench(benchmark::State &state, const workload::Polls &polls)
{
    for (auto _ : state) {
        QSet<QString> before(polls.before.begin(), polls.before.end());
        qsizetype found = 0;
        for (const QString &e : polls.now)
            found += before.contains(e);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * (polls.now.size() + polls.before.size()));
}

// Qt's seeded hash of 3,000 distinct names of `length` characters.
void qhashBench(benchmark::State &state, int length)
{
    QStringList names;
    for (int i = 0; i < 3000; ++i)
        names.append(QString::number(i).rightJustified(length, u'a'));
    for (auto _ : state) {
        size_t sum = 0;
        for (const QString &name : names)
            sum += qHash(name, size_t(1));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * names.size());
}

// `count` names watched through the tag [AB], on 20 servers, whose
// presence entries all share one value of an unseeded text hash (the one
// the watcher's own tables once used): a lobby that knew the hash could send
// them, and every lookup would walk one chain. The hash mixed the text four
// UTF-16 units at a time, each step invertible, so the four units before the
// fixed tail " Arena" are worked out backwards from the state they must
// leave. With `colliding` false, the same shape with those four units drawn
// at random.
QByteArray craftedReport(int count, bool colliding)
{
    constexpr quint64 mix = 0xff51afd7ed558ccdULL;
    quint64 unmix = mix; // its inverse modulo 2^64, by Newton's iteration
    for (int i = 0; i < 6; ++i)
        unmix *= 2 - mix * unmix;
    const auto step = [](quint64 h, quint64 units) {
        h = (h ^ units) * mix;
        return h ^ (h >> 32);
    };
    const auto word = [](QStringView four) {
        quint64 w = 0;
        for (int i = 3; i >= 0; --i)
            w = (w << 16) | four[i].unicode();
        return w;
    };
    const QString common = u"[AB]Colliding_player"_s; // 20 units: whole words
    constexpr quint64 target = 0x0123456789abcdefULL;
    const quint64 beforeTarget = (target ^ (target >> 32)) * unmix;
    const qsizetype length = common.size() + 8 + 6; // + free word, worked-out word, " Arena"
    QRandomGenerator random(1);

    QByteArray report;
    QByteArray line;
    int made = 0;
    for (quint32 n = 0; made < count; ++n) {
        QString name = common;
        for (quint32 k = n, i = 0; i < 4; ++i, k /= 36)
            name += QChar(u"0123456789abcdefghijklmnopqrstuvwxyz"[k % 36]);
        quint64 h = 0x9e3779b97f4a7c15ULL ^ (quint64(length) * 2);
        for (qsizetype at = 0; at < name.size(); at += 4)
            h = step(h, word(QStringView(name).sliced(at, 4)));
        const quint64 solved = colliding ? beforeTarget ^ h : random.generate64();
        bool usable = true;
        for (int i = 0; i < 4; ++i) {
            const QChar c(char16_t(solved >> (16 * i)));
            usable = usable && c.unicode() > 0xff && !c.isSurrogate() && !c.isSpace() && !c.isNonCharacter();
            name += c;
        }
        if (!usable)
            continue;
        line += (line.isEmpty() ? "" : "\t") + name.toUtf8();
        if (++made % 5000 == 0 || made == count) {
            report += "SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 5000; " + line + '\n';
            line.clear();
        }
    }
    return report;
}

// Serves one report to every connection, from a thread of its own, so that
// the sending costs the watcher's thread nothing.
class ReportServer final : public QTcpServer
{
public:
    explicit ReportServer(const QByteArray &report)
        : m_report(report)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(m_report);
        socket->disconnectFromHost();
    }

private:
    QByteArray m_report;
};

double threadCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The whole first poll of a real watcher over loopback, as the GUI thread
// spends it: CPU time from the moment its connection is up until the
// notice has been laid out in the bubble and the poll has ended, whether a
// notice came or not.
void pollBench(benchmark::State &state, const QByteArray &report, const QByteArray &listFile)
{
    QThread thread;
    thread.start();
    auto *server = new ReportServer(report);
    server->moveToThread(&thread);
    quint16 port = 0;
    QMetaObject::invokeMethod(
        server, [&] { server->listen(QHostAddress::LocalHost, 0), port = server->serverPort(); },
        Qt::BlockingQueuedConnection);

    QTemporaryDir dir;
    QFile list(dir.filePath(u"list.cfg"_s));
    if (!list.open(QIODevice::WriteOnly) || list.write(listFile) != listFile.size())
        state.SkipWithError("cannot write list.cfg");
    list.close();
    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = port;
    options.folder = dir.path();
    options.nextPollDelay = 3600 * 1000; // one poll per watcher
    options.fallbackInterval = 3600 * 1000;

    iBubble bubble;
    qsizetype noticeSize = 0;
    std::streambuf *const output = std::cout.rdbuf(nullptr);
    for (auto _ : state) {
        QEventLoop loop;
        double cpuAtConnect = 0;
        lookOut watcher(nullptr, options);
        QObject::connect(&watcher, &QAbstractSocket::connected, &loop, [&] { cpuAtConnect = threadCpuMs(); });
        const auto noticed = [&](const QString &text) {
            bubble.showMessage(text);
            noticeSize = text.size();
        };
        QObject::connect(&watcher, &lookOut::newImportantInfo, &loop, noticed);
        QObject::connect(&watcher, &lookOut::newInfo, &loop, noticed);
        // After analizeInfo(), which the watcher connected first.
        QObject::connect(&watcher, &QAbstractSocket::disconnected, &loop, [&] {
            state.SetIterationTime((threadCpuMs() - cpuAtConnect) / 1e3);
            loop.quit();
        });
        QTimer::singleShot(30000, &loop, [&] {
            state.SkipWithError("the poll did not end within 30 s");
            loop.quit();
        });
        loop.exec();
        bubble.hide();
    }
    std::cout.rdbuf(output);
    server->deleteLater();
    thread.quit();
    thread.wait();
    state.counters["notice_chars"] = double(noticeSize);
    state.SetBytesProcessed(state.iterations() * report.size());
}

// `seats` players watched through the tag [AB], 500 to a server.
QByteArray seatedReport(qsizetype seats, const QByteArray &serverName = "Server")
{
    QByteArray report;
    for (qsizetype made = 0, server = 1; made < seats; ++server) {
        report += "SERVER " + QByteArray::number(server) + "; 10.0.0.1:27960 " + serverName
            + QByteArray::number(server) + "\nCLIENTS 1; ";
        for (qsizetype i = 0; i < 500 && made < seats; ++i, ++made)
            report += (i ? "\t[AB]Player" : "[AB]Player") + QByteArray::number(made);
        report += '\n';
    }
    return report;
}

// As much of `line` again and again as the report bound lets through.
QByteArray largest(const QByteArray &line)
{
    return line.repeated((report::PollReader::maxReportSize - 100) / line.size());
}

void registerBenchmarks()
{
    using benchmark::RegisterBenchmark;
    static const workload::Lobby typical = workload::lobby(workload::typical);
    static const workload::Lobby large = workload::lobby(workload::large);
    std::fprintf(stderr, "typical: %lld bytes, %lld players; large: %lld bytes, %lld players\n",
        qlonglong(typical.report.size()), qlonglong(typical.players), qlonglong(large.report.size()),
        qlonglong(large.players));

    RegisterBenchmark("read/typical", readBench, typical.report, typical.entries);
    RegisterBenchmark("naive/typical", naiveBench, typical.report, typical.entries)
        ->Unit(benchmark::kMillisecond);
    RegisterBenchmark("read/large", readBench, large.report, large.entries)->Unit(benchmark::kMillisecond);
    RegisterBenchmark("naive/large", naiveBench, large.report, large.entries)->Unit(benchmark::kMillisecond);
    for (int length : {7, 8})
        RegisterBenchmark(("qhash/" + std::to_string(length) + "-chars").c_str(), qhashBench, length);
    RegisterBenchmark("compare/typical", compareBench, pollsOf(100), false);
    for (int entries : {200, 1000, 2000, 10000, 100000}) {
        RegisterBenchmark(
            ("compare/" + std::to_string(entries)).c_str(), compareBench, pollsOf(entries), false)
            ->Unit(benchmark::kMillisecond);
        RegisterBenchmark(("compare-qset/" + std::to_string(entries)).c_str(), qsetBench, pollsOf(entries))
            ->Unit(benchmark::kMillisecond);
    }
    RegisterBenchmark("naive-compare/1000", compareBench, pollsOf(1000), true)->Unit(benchmark::kMillisecond);

    // 99,990 names watched through a tag: read (past the seat bound, so
    // only up to it) and compared with the poll before, where nobody was.
    static const QStringList tag{u"[AB]"_s};
    for (const bool colliding : {false, true}) {
        static std::map<bool, workload::Polls> crafted;
        const QByteArray report = craftedReport(99990, colliding);
        crafted[colliding] = {reference::online(report, tag), {}};
        const std::string shape = colliding ? "colliding" : "random";
        RegisterBenchmark(
            ("read/99990-" + shape + "-unwatched").c_str(), readBench, report, QStringList{u"Sam"_s})
            ->Unit(benchmark::kMillisecond);
        RegisterBenchmark(
            ("compare/99990-" + shape + "-watched").c_str(), compareBench, crafted[colliding], false)
            ->Unit(benchmark::kMillisecond);
    }

    const auto poll = [](const std::string &name, const QByteArray &report, const QByteArray &list) {
        RegisterBenchmark(("poll/" + name).c_str(), pollBench, report, list)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->Unit(benchmark::kMillisecond);
    };
    poll("empty", QByteArray(), typical.listFile);
    poll("typical", typical.report, typical.listFile);
    poll("large", large.report, large.listFile);
    const qsizetype most = report::PollReader::maxSeats;
    for (qsizetype seats : {most / 2, most})
        poll("seats-" + std::to_string(seats), seatedReport(seats), "LIST += [AB]\n");
    // As many characters of watched entries as a report may hold, on few lines.
    poll("seats-long-server", seatedReport(report::PollReader::maxSeatText / 620, QByteArray(600, 'A')),
        "LIST += [AB]\n");
    poll("largest-unwatched", largest(typical.report), typical.listFile);
    poll("largest-short-names", largest("CLIENTS 1; " + QByteArray("a\t").repeated(4000) + "a\n"),
        typical.listFile);
    poll("largest-tabs", largest("CLIENTS 1; " + QByteArray(8000, '\t') + "\n"), typical.listFile);
    poll("largest-brackets",
        largest("CLIENTS 1; " + QByteArray("[[[[[[[[[[[[[[[[[[[\t").repeated(400) + "\n"),
        "LIST += Sam\nLIST += [AB]\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The benchmark's watch list of the typical lobby, for bench/idle.sh.
    if (argc == 4 && std::strcmp(argv[1], "--write-list") == 0) {
        const workload::Lobby lobby = workload::lobby(workload::typical);
        QFile file(QString::fromLocal8Bit(argv[3]));
        if (!file.open(QIODevice::WriteOnly) || file.write(lobby.listFile) != lobby.listFile.size()) {
            std::fprintf(stderr, "lookout-bench: cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    // The watcher must find what the QRegExp reference reading finds, or its
    // speed means nothing.
    const workload::Lobby typical = workload::lobby(workload::typical);
    const workload::Polls &polls = pollsOf(1000);
    if (readReport(typical.report, watchlist::Matcher(typical.entries))
            != reference::online(typical.report, typical.entries)
        || presence::compare(polls.now, polls.before).text
            != reference::compare(polls.now, polls.before).text) {
        std::fprintf(stderr, "lookout-bench: the watcher and the QRegExp reference reading disagree\n");
        return 1;
    }
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
