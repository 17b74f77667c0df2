#include "platform.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

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

void writeTracesAsBytes()
{
#ifdef Q_OS_WIN
    // No descriptor at all (-2) when nothing was redirected: the C runtime
    // would stop the program on a bad one handed to _setmode.
    const int out = _fileno(stdout);
    if (out >= 0)
        _setmode(out, _O_BINARY);
#endif
}
