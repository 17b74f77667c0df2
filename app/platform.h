#pragma once

// On a Wayland desktop a window cannot place itself, so the bubble would
// not sit in the corner of the screen. Where XWayland is there, run through
// it, unless the user has chosen a platform (QT_QPA_PLATFORM or -platform).
// Must be called before the application object exists.
void preferXWaylandOnWayland(int argc, char *argv[]);

// The traces go to standard output byte for byte on every platform: Windows'
// C runtime would write each line feed as carriage return and line feed. A
// GUI program on Windows has no standard output unless whoever started it
// redirected it; the traces are then lost, and nothing else happens.
void writeTracesAsBytes();
