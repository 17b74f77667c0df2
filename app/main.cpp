#include "lookout.h"
#include "quitonsignal.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    auto app = std::make_unique<QApplication>(argc, argv);
    app->setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals();

    auto watcher = std::make_unique<lookOut>(app.get());

    const int result = app->exec();
    watcher.reset();
    app.reset();
    return result;
}
