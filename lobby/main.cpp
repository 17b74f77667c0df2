#include "simulation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr int badOptions = 2;

void printLine(FILE *stream, const QString &text)
{
    const QByteArray bytes = (text + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    // Scripts and tests wait for our lines through a pipe, where stdout is
    // not flushed until the buffer fills.
    std::fflush(stream);
}

struct Options
{
    QHostAddress address;
    quint16 port = 0;
    QString reportFolder;
    bool simulate = false;
    quint64 seed = LobbySimulation::defaultSeed;
    int servers = LobbySimulation::defaultServers;
    int players = LobbySimulation::defaultPlayers;
    double churn = LobbySimulation::defaultChurn;
    QString listFile;
    QString dumpFolder;
    int dumpCount = 0;
};

// The options, or the message that says what is wrong with them.
struct Parsed
{
    std::optional<Options> options;
    QString error;
};

Parsed parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"A stand-in for the game lobby, for trying Lookout out and preparing test inputs.\n"
        "Every connection gets one report, after which the server closes it."_s);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption address(
        u"address"_s, u"Listen on this IPv4 address (default 127.0.0.1)."_s, u"IPv4"_s, u"127.0.0.1"_s);
    const QCommandLineOption port(
        u"port"_s, u"Listen on this port (default 22000; 0 picks a free one)."_s, u"n"_s, u"22000"_s);
    const QCommandLineOption reports(u"reports"_s,
        u"Serve the folder's files in file-name order, one per connection, "
        "byte for byte; the last one is served again and again."_s,
        u"folder"_s);
    const QCommandLineOption simulate(u"simulate"_s,
        u"Serve a simulated lobby that moves on by one poll after each "
        "connection."_s);
    const QCommandLineOption servers(u"servers"_s, u"Simulated game servers (default 12)."_s, u"n"_s);
    const QCommandLineOption players(
        u"players"_s, u"Simulated players, online or not (default 60)."_s, u"n"_s);
    const QCommandLineOption seed(u"seed"_s, u"Seed of the simulation (default 1)."_s, u"n"_s);
    const QCommandLineOption churn(u"churn"_s,
        u"Share of the players who join, leave or change servers per poll, "
        "0 to 1 (default 0.075)."_s,
        u"fraction"_s);
    const QCommandLineOption writeList(u"write-list"_s,
        u"Write a watch list that catches some of the simulated players, "
        "then go on."_s,
        u"file"_s);
    const QCommandLineOption dump(u"dump"_s,
        u"Write successive simulated reports into the folder as report-0001.txt "
        "and on, then exit without listening."_s,
        u"folder"_s);
    const QCommandLineOption count(u"count"_s, u"How many reports --dump writes."_s, u"k"_s);
    parser.addOptions(
        {address, port, reports, simulate, servers, players, seed, churn, writeList, dump, count});
    parser.addPositionalArgument(u"folder"_s, u"The same as --reports <folder>."_s, u"[folder]"_s);

    if (!parser.parse(arguments))
        return {std::nullopt, parser.errorText()};
    if (parser.isSet(help))
        parser.showHelp(0);

    const auto fail = [](const QString &message) { return Parsed{std::nullopt, message}; };
    const auto number = [&](const QCommandLineOption &option, qint64 low, qint64 high,
                            qint64 &value) -> std::optional<QString> {
        bool ok = false;
        const QString text = parser.value(option);
        value = text.toLongLong(&ok);
        if (ok && value >= low && value <= high)
            return std::nullopt;
        return u"--%1 takes a whole number from %2 to %3, not \"%4\""_s.arg(option.names().constFirst())
            .arg(low)
            .arg(high)
            .arg(text);
    };

    Options options;
    if (!options.address.setAddress(parser.value(address))
        || options.address.protocol() != QAbstractSocket::IPv4Protocol)
        return fail(u"--address takes a dotted IPv4 address such as 127.0.0.1, not \"%1\""_s.arg(
            parser.value(address)));
    qint64 value = 0;
    if (auto error = number(port, 0, 65535, value))
        return fail(*error);
    options.port = quint16(value);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return fail(u"only one folder of reports, please; got \"%1\""_s.arg(positional.join(u"\", \""_s)));
    if (!positional.isEmpty() && parser.isSet(reports))
        return fail(u"give the folder of reports either with --reports or on its own, not both"_s);
    options.reportFolder = positional.isEmpty() ? parser.value(reports) : positional.constFirst();
    options.simulate = parser.isSet(simulate);
    if (options.simulate && !options.reportFolder.isEmpty())
        return fail(u"serve either a folder of reports or the simulation, not both"_s);
    if (!options.simulate && options.reportFolder.isEmpty())
        return fail(u"nothing to serve: give --reports <folder> or --simulate"_s);

    for (const QCommandLineOption *option : {&servers, &players, &seed, &churn, &writeList, &dump, &count}) {
        if (!options.simulate && parser.isSet(*option))
            return fail(u"--%1 only goes with --simulate"_s.arg(option->names().constFirst()));
    }
    if (parser.isSet(servers)) {
        if (auto error = number(servers, 1, LobbySimulation::maxServers, value))
            return fail(*error);
        options.servers = int(value);
    }
    if (parser.isSet(players)) {
        if (auto error = number(players, 0, LobbySimulation::maxPlayers, value))
            return fail(*error);
        options.players = int(value);
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        options.seed = parser.value(seed).toULongLong(&ok);
        if (!ok)
            return fail(
                u"--seed takes a whole number from 0 to 2^64 - 1, not \"%1\""_s.arg(parser.value(seed)));
    }
    if (parser.isSet(churn)) {
        bool ok = false;
        options.churn = parser.value(churn).toDouble(&ok);
        if (!ok || !(options.churn >= 0.0 && options.churn <= 1.0))
            return fail(
                u"--churn takes a fraction from 0 to 1, such as 0.05, not \"%1\""_s.arg(parser.value(churn)));
    }
    options.listFile = parser.value(writeList);
    options.dumpFolder = parser.value(dump);
    if (parser.isSet(dump) != parser.isSet(count))
        return fail(u"--dump <folder> and --count <k> go together"_s);
    if (parser.isSet(count)) {
        if (auto error = number(count, 1, 1000000, value))
            return fail(*error);
        options.dumpCount = int(value);
    }
    return {options, {}};
}

// The regular files of a folder, in file-name order, compared code unit by
// code unit so the order does not hang on the locale.
std::optional<QStringList> reportFiles(const QString &folder, QString &error)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        error = u"there is no folder \"%1\""_s.arg(folder);
        return std::nullopt;
    }
    QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    if (names.isEmpty()) {
        error = u"the folder \"%1\" holds no files to serve"_s.arg(folder);
        return std::nullopt;
    }
    std::sort(names.begin(), names.end()); // code-unit order, whatever the locale
    QStringList paths;
    for (const QString &name : std::as_const(names))
        paths.append(dir.filePath(name));
    return paths;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    printLine(stderr, u"lookout-lobby: cannot write %1: %2"_s.arg(path, file.errorString()));
    return false;
}

// What one connection gets, and a name for it in the log.
struct Report
{
    QByteArray bytes;
    QString label;
};

void serve(QTcpSocket *socket, int number, const Report &report)
{
    auto sent = std::make_shared<qint64>(0);
    QObject::connect(socket, &QIODevice::bytesWritten, socket, [sent](qint64 bytes) { *sent += bytes; });
    // Clients have nothing to say; whatever comes anyway is dropped rather
    // than left to pile up while a large report goes out.
    QObject::connect(
        socket, &QIODevice::readyRead, socket, [socket] { socket->skip(socket->bytesAvailable()); });
    const qint64 total = report.bytes.size();
    QObject::connect(
        socket, &QAbstractSocket::disconnected, socket, [socket, number, total, sent, label = report.label] {
            if (*sent == total)
                printLine(stderr, u"connection %1: sent %2 bytes of %3"_s.arg(number).arg(total).arg(label));
            else
                printLine(stderr,
                    u"connection %1: sent %2 of %3 bytes of %4, then the client went away"_s.arg(number)
                        .arg(*sent)
                        .arg(total)
                        .arg(label));
            socket->deleteLater();
        });
    socket->write(report.bytes);
    // Closes only once everything written has gone out.
    socket->disconnectFromHost();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"lookout-lobby"_s);

    const Parsed parsed = parseOptions(QCoreApplication::arguments());
    if (!parsed.options) {
        printLine(stderr, u"lookout-lobby: %1\nTry \"lookout-lobby --help\"."_s.arg(parsed.error));
        return badOptions;
    }
    const Options &options = *parsed.options;

    std::function<Report()> nextReport;
    std::optional<LobbySimulation> simulation;
    if (options.simulate) {
        simulation.emplace(options.seed, options.servers, options.players, options.churn);
        if (!options.listFile.isEmpty()
            && !writeFile(options.listFile,
                simulation->sampleWatchList(LobbySimulation::demoPlainNames, LobbySimulation::demoTags)))
            return 1;
        if (options.dumpCount > 0) {
            if (!QDir().mkpath(options.dumpFolder)) {
                printLine(stderr, u"lookout-lobby: cannot make the folder %1"_s.arg(options.dumpFolder));
                return 1;
            }
            // Wide enough numbers that the file-name order is the report order.
            const int width = std::max(4, int(QString::number(options.dumpCount).size()));
            for (int i = 1; i <= options.dumpCount; ++i) {
                const QString name = u"report-%1.txt"_s.arg(i, width, 10, QLatin1Char('0'));
                if (!writeFile(QDir(options.dumpFolder).filePath(name), simulation->report()))
                    return 1;
                simulation->advance();
            }
            printLine(stdout,
                u"lookout-lobby wrote %1 report file(s) into %2"_s.arg(options.dumpCount)
                    .arg(options.dumpFolder));
            return 0;
        }
        nextReport = [&simulation, step = 0]() mutable {
            Report report{simulation->report(), u"simulation step %1"_s.arg(step++)};
            simulation->advance();
            return report;
        };
    } else {
        QString error;
        const std::optional<QStringList> files = reportFiles(options.reportFolder, error);
        if (!files) {
            printLine(stderr, u"lookout-lobby: %1"_s.arg(error));
            return badOptions;
        }
        nextReport = [files = *files, served = 0]() mutable {
            // Read afresh for every connection, so a file can be edited while we run.
            const QString path = files.at(std::min(served++, int(files.size()) - 1));
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                printLine(stderr, u"lookout-lobby: cannot read %1: %2"_s.arg(path, file.errorString()));
                return Report{{}, QFileInfo(path).fileName()};
            }
            return Report{file.readAll(), QFileInfo(path).fileName()};
        };
    }

    QTcpServer server;
    if (!server.listen(options.address, options.port)) {
        printLine(stderr,
            u"lookout-lobby: cannot listen on %1:%2: %3"_s.arg(options.address.toString())
                .arg(options.port)
                .arg(server.errorString()));
        return 1;
    }
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection())
            serve(socket, ++connections, nextReport());
    });
    printLine(stdout,
        u"lookout-lobby listening on %1:%2"_s.arg(server.serverAddress().toString())
            .arg(server.serverPort()));
    return app.exec();
}
