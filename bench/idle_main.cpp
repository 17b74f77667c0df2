#include "itray.h"
#include "lookout.h"
#include "platform.h"
#include "quitonsignal.h"

#include <QApplication>

#include <cstdio>
#include <memory>

// The program as app/main.cpp builds it, with one difference: the lobby's
// port, the folder of list.cfg and of the tray's files and the pause between
// polls come from the command line, so that a hundred polls take a minute instead of two hours.
// For measuring the program from outside (bench/idle.sh), nothing else.
int main(int argc, char *argv[])
{
    preferXWaylandOnWayland(argc, argv);
    auto app = std::make_unique<QApplication>(argc, argv);
    app->setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals();

    const QStringList arguments = QCoreApplication::arguments();
    bool portOk = false;
    bool delayOk = true;
    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = arguments.size() > 2 ? arguments.at(1).toUShort(&portOk) : 0;
    options.folder = arguments.size() > 2 ? arguments.at(2) : QString();
    options.nextPollDelay = arguments.size() > 3 ? arguments.at(3).toInt(&delayOk) : 500;
    if (!portOk || !delayOk || options.nextPollDelay <= 0) {
        std::fprintf(stderr, "usage: lookout-idle-bench PORT LIST_FOLDER [MS_BETWEEN_POLLS]\n");
        return 2;
    }
    // The program's own ratio: 150 s of fallback to 60 s between polls.
    options.fallbackInterval = options.nextPollDelay * 5 / 2;

    // The tray's files (config.cfg, icons/, wav/) come from the same folder,
    // so the bench's settings never reach the build folder's own config.cfg.
    auto tray = std::make_unique<iTray>(app.get(), options.folder);
    auto watcher = std::make_unique<lookOut>(app.get(), options);
    QObject::connect(watcher.get(), &lookOut::newInfo, tray.get(), iTray::infoSlot());
    QObject::connect(watcher.get(), &lookOut::newImportantInfo, tray.get(), iTray::importantInfoSlot());

    const int result = app->exec();
    watcher.reset();
    tray.reset();
    app.reset();
    return result;
}
