#pragma once

// On a Wayland desktop a window cannot place itself, so the bubble would
// not sit in the corner of the screen. Where XWayland is there, run through
// it, unless the user has chosen a platform (QT_QPA_PLATFORM or -platform).
// Must be called before the application object exists.
void preferXWaylandOnWayland(int argc, char *argv[]);
