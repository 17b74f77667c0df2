#include "itray.h"
#include "lookout.h"
#include "platform.h"
#include "quitonsignal.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    preferXWaylandOnWayland(argc, argv);
    writeTracesAsBytes();
    auto app = std::make_unique<QApplication>(argc, argv);
    // The bubble is the only window; closing it must not end the program.
    app->setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals();

    auto tray = std::make_unique<iTray>(app.get());
    auto watcher = std::make_unique<lookOut>(app.get());
    // The watcher and the tray know nothing of each other; they meet here.
    QObject::connect(watcher.get(), &lookOut::newInfo, tray.get(), iTray::infoSlot());
    QObject::connect(watcher.get(), &lookOut::newImportantInfo, tray.get(), iTray::importantInfoSlot());

    const int result = app->exec();
    watcher.reset();
    tray.reset();
    app.reset();
    return result;
}
