#include "lines.h"
#include "lookout.h"
#include "presence.h"
#include "reference.h"
#include "report.h"
#include "watchlist.h"
#include "workload.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <streambuf>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const workload::Lobby &typicalLobby()
{
    static const workload::Lobby lobby = workload::lobby(workload::typical);
    return lobby;
}

const workload::Lobby &hugeLobby()
{
    static const workload::Lobby lobby = workload::lobby(workload::huge);
    return lobby;
}

// Enough of the huge lobby for the QRegExp reference reading to finish in
// about a second.
const QByteArray &hugeSlice()
{
    static const QByteArray slice = workload::slice(hugeLobby().report, 16 * 1024);
    return slice;
}

// The least any reading can do: find every line end once.
qsizetype floorPass(QByteArrayView bytes)
{
    qsizetype lines = 0;
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while (const void *lf = std::memchr(p, '\n', size_t(end - p))) {
        ++lines;
        p = static_cast<const char *>(lf) + 1;
    }
    return lines;
}

// What the watcher does with a report as the socket hands it over, piece by
// piece: report::PollReader, lines and all. The traces are dropped where the
// watcher writes them out.
QStringList readReport(QByteArrayView report, const watchlist::Matcher &watched)
{
    constexpr qsizetype chunk = 64 * 1024; // what lookOut::processPackage reads at once
    report::PollReader reader;
    reader.start();
    QString server;
    QStringList entries;
    QByteArray traces;
    for (qsizetype at = 0; at < report.size(); at += chunk) {
        reader.read(report.sliced(at, std::min(chunk, report.size() - at)), watched, server, entries, traces);
        traces.resize(0);
    }
    return entries;
}

// The QRegExp reference reading, the yardstick of the benchmarks.
QStringList readNaively(QByteArrayView report, const QStringList &watchList)
{
    return reference::online(report, watchList);
}

void floorBench(benchmark::State &state, const QByteArray &report)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(floorPass(report));
    state.SetBytesProcessed(state.iterations() * report.size());
}

void readBench(benchmark::State &state, const QByteArray &report, const QStringList &entries)
{
    const watchlist::Matcher watched(entries);
    qsizetype found = 0;
    for (auto _ : state)
        found = readReport(report, watched).size();
    state.SetBytesProcessed(state.iterations() * report.size());
    state.counters["watched"] = double(found);
}

void naiveBench(benchmark::State &state, const QByteArray &report, const QStringList &entries)
{
    qsizetype found = 0;
    for (auto _ : state)
        found = readNaively(report, entries).size();
    state.SetBytesProcessed(state.iterations() * report.size());
    state.counters["watched"] = double(found);
}

void prepareBench(benchmark::State &state, const QStringList &entries)
{
    for (auto _ : state) {
        const watchlist::Matcher watched(entries);
        benchmark::DoNotOptimize(&watched);
    }
    state.SetItemsProcessed(state.iterations() * entries.size());
}

const workload::Polls &pollsOf(int entries)
{
    static std::map<int, workload::Polls> cache;
    auto it = cache.find(entries);
    if (it == cache.end())
        it = cache.emplace(entries, workload::polls(entries)).first;
    return it->second;
}

void compareBench(benchmark::State &state, int entries, bool naively)
{
    const workload::Polls &polls = pollsOf(entries);
    for (auto _ : state) {
        const QString text = naively ? reference::compare(polls.now, polls.before).text
                                     : presence::compare(polls.now, polls.before).text;
        benchmark::DoNotOptimize(text.size());
    }
    state.SetItemsProcessed(state.iterations() * (polls.now.size() + polls.before.size()));
    state.counters["now"] = double(polls.now.size());
    state.counters["before"] = double(polls.before.size());
}

// Swallows the traces while the whole poll is timed.
class NullBuffer final : public std::streambuf
{
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char *, std::streamsize n) override { return n; }
};

class QuietOutput
{
public:
    QuietOutput()
        : m_saved(std::cout.rdbuf(&m_null))
    {
    }
    ~QuietOutput() { std::cout.rdbuf(m_saved); }

private:
    NullBuffer m_null;
    std::streambuf *m_saved;
};

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
        // Whatever the client says is dropped; unread input would make the close a reset.
        connect(socket, &QIODevice::readyRead, socket, [socket] { socket->skip(socket->bytesAvailable()); });
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

// The whole first poll of a real watcher over loopback, from the moment its
// connection is up to the notice.
void pollBench(benchmark::State &state, const workload::Lobby &lobby)
{
    QThread thread;
    thread.start();
    auto *server = new ReportServer(lobby.report);
    server->moveToThread(&thread);
    quint16 port = 0;
    QMetaObject::invokeMethod(
        server, [&] { server->listen(QHostAddress::LocalHost, 0), port = server->serverPort(); },
        Qt::BlockingQueuedConnection);

    QTemporaryDir dir;
    QFile list(dir.filePath(u"list.cfg"_s));
    if (!list.open(QIODevice::WriteOnly) || list.write(lobby.listFile) != lobby.listFile.size())
        state.SkipWithError("cannot write list.cfg");
    list.close();

    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = port;
    options.folder = dir.path();
    options.nextPollDelay = 3600 * 1000; // one poll per watcher
    options.fallbackInterval = 3600 * 1000;

    double cpu = 0;
    double total = 0;
    qsizetype noticeSize = 0;
    for (auto _ : state) {
        QuietOutput quiet;
        QEventLoop loop;
        QElapsedTimer clock;
        qint64 connectedAt = 0;
        double cpuAtConnect = 0;
        qint64 noticeAt = -1;
        double cpuAtNotice = 0;
        clock.start();
        lookOut watcher(nullptr, options);
        QObject::connect(&watcher, &QAbstractSocket::connected, &loop, [&] {
            connectedAt = clock.nsecsElapsed();
            cpuAtConnect = threadCpuMs();
        });
        const auto noticed = [&](const QString &text) {
            noticeAt = clock.nsecsElapsed();
            cpuAtNotice = threadCpuMs();
            noticeSize = text.size();
            loop.quit();
        };
        QObject::connect(&watcher, &lookOut::newImportantInfo, &loop, noticed);
        QObject::connect(&watcher, &lookOut::newInfo, &loop, noticed);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        if (noticeAt < 0) {
            state.SkipWithError("no notice within 30 s");
            break;
        }
        state.SetIterationTime((noticeAt - connectedAt) / 1e9);
        cpu += cpuAtNotice - cpuAtConnect;
        total += noticeAt / 1e6;
    }
    server->deleteLater();
    thread.quit();
    thread.wait();

    const double n = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["cpu_ms"] = cpu / n;
    state.counters["from_construction_ms"] = total / n;
    state.counters["notice_chars"] = double(noticeSize);
    state.SetBytesProcessed(state.iterations() * lobby.report.size());
}

// The watcher must find what the QRegExp reference reading finds, or its
// speed means nothing.
bool sameFindings(const char *what, QByteArrayView report, const QStringList &entries)
{
    const QStringList ours = readReport(report, watchlist::Matcher(entries));
    const QStringList theirs = readNaively(report, entries);
    std::fprintf(stderr, "%s: %lld watched players found, %s\n", what, qlonglong(ours.size()),
        ours == theirs ? "as the QRegExp reading finds them" : "DIFFERENT from the QRegExp reading");
    return ours == theirs;
}

bool sameNotice(int entries)
{
    const workload::Polls &polls = pollsOf(entries);
    const presence::Notice ours = presence::compare(polls.now, polls.before);
    const reference::Notice theirs = reference::compare(polls.now, polls.before);
    const bool same = int(ours.kind) == int(theirs.kind) && ours.text == theirs.text;
    std::fprintf(stderr, "comparison of %lld with %lld entries: %s the QRegExp reference reading\n",
        qlonglong(polls.now.size()), qlonglong(polls.before.size()),
        same ? "the same notice as" : "a DIFFERENT notice from");
    return same;
}

void registerBenchmarks()
{
    using benchmark::RegisterBenchmark;
    const workload::Lobby &typical = typicalLobby();
    const workload::Lobby &huge = hugeLobby();
    const QByteArray &slice = hugeSlice();
    std::fprintf(stderr, "typical: %lld bytes, %lld players, %lld entries\n",
        qlonglong(typical.report.size()), qlonglong(typical.players), qlonglong(typical.entries.size()));
    std::fprintf(stderr, "huge: %lld bytes, %lld players, %lld entries; slice %lld bytes\n",
        qlonglong(huge.report.size()), qlonglong(huge.players), qlonglong(huge.entries.size()),
        qlonglong(slice.size()));

    RegisterBenchmark("floor/typical", floorBench, typical.report);
    RegisterBenchmark("read/typical", readBench, typical.report, typical.entries);
    RegisterBenchmark("naive/typical", naiveBench, typical.report, typical.entries)
        ->Unit(benchmark::kMillisecond);
    RegisterBenchmark("floor/huge", floorBench, huge.report);
    RegisterBenchmark("read/huge", readBench, huge.report, huge.entries)->Unit(benchmark::kMillisecond);
    RegisterBenchmark("floor/huge-slice", floorBench, slice);
    RegisterBenchmark("read/huge-slice", readBench, slice, huge.entries);
    RegisterBenchmark("naive/huge-slice", naiveBench, slice, huge.entries)->Unit(benchmark::kMillisecond);
    RegisterBenchmark("prepare/huge", prepareBench, huge.entries);
    for (int entries : {1000, 10000, 100000})
        RegisterBenchmark(("compare/" + std::to_string(entries)).c_str(), compareBench, entries, false)
            ->Unit(benchmark::kMillisecond);
    RegisterBenchmark("naive-compare/1000", compareBench, 1000, true)->Unit(benchmark::kMillisecond);
    RegisterBenchmark("poll/huge-loopback", pollBench, huge)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(9)
        ->Unit(benchmark::kMillisecond);
}

// lookout-bench --report FILE --list FILE [--against FILE2]
struct Files
{
    QString report;
    QString list;
    QString against;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "lookout-bench: cannot read %s\n", qPrintable(path));
        std::exit(2);
    }
    return file.readAll();
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

// The median CPU time of `run`, repeated for at least `budget` seconds and
// three times. CPU time, as the benchmarks' rates: other programs share the
// machine.
double medianSeconds(const std::function<void()> &run, double budget)
{
    std::vector<double> times;
    QElapsedTimer total;
    total.start();
    while (times.size() < 3 || (total.elapsed() < budget * 1000 && times.size() < 101)) {
        const double start = threadCpuSeconds();
        run();
        times.push_back(threadCpuSeconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int measureFiles(const Files &files)
{
    const QByteArray report = readAll(files.report);
    const QStringList entries = workload::listEntries(readAll(files.list));
    const watchlist::Matcher watched(entries);
    const double megabytes = report.size() / 1e6;

    const double reading = medianSeconds([&] { benchmark::DoNotOptimize(readReport(report, watched)); }, 2);
    const double floor = medianSeconds([&] { benchmark::DoNotOptimize(floorPass(report)); }, 1);
    std::printf("report: %lld bytes, %lld watched players, %lld list entries\n", qlonglong(report.size()),
        qlonglong(readReport(report, watched).size()), qlonglong(entries.size()));
    std::printf("reading (CPU time, medians): %.1f MB/s\n", megabytes / reading);
    std::printf("floor: %.1f MB/s\n", megabytes / floor);
    std::fflush(stdout);
    // The QRegExp reading of a large report takes minutes: a slice of it
    // says as much.
    constexpr qsizetype naiveBytes = 256 * 1024;
    const QByteArray slice = workload::slice(report, naiveBytes);
    const double naive = medianSeconds([&] { benchmark::DoNotOptimize(readNaively(slice, entries)); }, 0);
    if (slice.size() == report.size())
        std::printf("QRegExp reading: %.3f MB/s\n", megabytes / naive);
    else
        std::printf("QRegExp reading (first %lld bytes): %.3f MB/s\n", qlonglong(slice.size()),
            slice.size() / 1e6 / naive);
    if (!files.against.isEmpty()) {
        const QStringList now = readReport(report, watched);
        const QStringList before = readReport(readAll(files.against), watched);
        const double comparing
            = medianSeconds([&] { benchmark::DoNotOptimize(presence::compare(now, before)); }, 1);
        std::printf("comparison: %.3f ms (%lld now, %lld before)\n", comparing * 1e3, qlonglong(now.size()),
            qlonglong(before.size()));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    // The benchmark's watch lists, for bench/idle.sh and for trying the
    // program on the simulated lobbies by hand.
    if (argc == 4 && std::strcmp(argv[1], "--write-list") == 0) {
        const bool huge = std::strcmp(argv[2], "huge") == 0;
        if (!huge && std::strcmp(argv[2], "typical") != 0) {
            std::fprintf(stderr, "lookout-bench: --write-list takes typical or huge\n");
            return 2;
        }
        const workload::Lobby lobby = workload::lobby(huge ? workload::huge : workload::typical);
        QFile file(QString::fromLocal8Bit(argv[3]));
        if (!file.open(QIODevice::WriteOnly) || file.write(lobby.listFile) != lobby.listFile.size()) {
            std::fprintf(stderr, "lookout-bench: cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }

    Files files;
    bool fileMode = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        QString *target = arg == "--report" ? &files.report
            : arg == "--list"               ? &files.list
            : arg == "--against"            ? &files.against
                                            : nullptr;
        if (target && i + 1 < argc) {
            *target = QString::fromLocal8Bit(argv[++i]);
            fileMode = true;
        }
    }
    if (fileMode) {
        if (files.report.isEmpty() || files.list.isEmpty()) {
            std::fprintf(stderr,
                "usage: lookout-bench --report FILE --list FILE [--against FILE2]\n"
                "   or: lookout-bench [benchmark options]\n");
            return 2;
        }
        return measureFiles(files);
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    bool same = sameFindings("typical", typicalLobby().report, typicalLobby().entries);
    same = sameFindings("huge slice", hugeSlice(), hugeLobby().entries) && same;
    same = sameNotice(1000) && same;
    if (!same)
        return 1;
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
