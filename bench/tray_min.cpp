#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

// The smallest Qt tray program, the yardstick for Lookout's memory at rest
// (bench/idle.sh): an icon and a menu, nothing else.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QCoreApplication::quit);
    QSystemTrayIcon tray(QIcon(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString()));
    tray.setContextMenu(&menu);
    tray.show();
    return app.exec();
}
