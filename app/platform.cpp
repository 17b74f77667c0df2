#include "platform.h"

#include <QString>
#include <QtGlobal>

#include <cstring>

void preferXWaylandOnWayland(int argc, char *argv[])
{
#ifdef Q_OS_LINUX
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return;
    }
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1StringView("wayland")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool xwayland = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (wayland && xwayland)
        qputenv("QT_QPA_PLATFORM", "xcb");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}
