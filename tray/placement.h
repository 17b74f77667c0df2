#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where the bubble goes: the screen facts a platform reports, as plain
// values in device pixels, and the rectangle they give. No Qt object and no
// platform call: tray/screenfacts.cpp reads the facts.
namespace placement {

// A panel's reservation, as _NET_WM_STRUT_PARTIAL gives it: how far it
// reaches in from each edge of the whole X screen, and the stretch of that
// edge it covers (first and last pixel). _NET_WM_STRUT's four widths are a
// strut over the whole of each edge.
struct Strut
{
    int left = 0, right = 0, top = 0, bottom = 0;
    int leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
    int topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;
};

// The 12 values of _NET_WM_STRUT_PARTIAL, or the 4 of _NET_WM_STRUT on a
// screen of `root` size; nothing for any other count.
std::optional<Strut> strutFromProperty(const QList<quint32> &values, const QSize &root);

// What a platform tells of the primary monitor and its neighbours.
struct Screens
{
    QRect monitor; // the primary monitor
    int monitorCount = 1;
    QSize root; // the whole X screen, which struts are measured from
    // The window manager's work area of the current desktop: one rectangle
    // for all monitors (_NET_WORKAREA); null where none is published.
    QRect desktopWorkArea;
    // Work areas the window manager publishes per monitor, where it does
    // (_GTK_WORKAREAS_D<desktop>).
    QList<QRect> monitorWorkAreas;
    QList<Strut> struts; // of the windows the window manager manages
};

// The primary monitor less what the panels on it reserve.
QRect workArea(const Screens &screens);

// The monitor less the strips the struts reserve on it; a strip on another
// monitor takes nothing from this one.
QRect monitorLessStruts(const QRect &monitor, const QSize &root, const QList<Strut> &struts);

// The bubble of `size` (logical pixels) at `scale`, its right and bottom
// edges on the work area's. Its size is scaled as Qt scales a window's.
QRect bubbleRect(const QRect &workArea, const QSize &size, qreal scale);

// The logical position Qt maps nearest to the device position `device` on
// a screen whose top left corner is `origin` (the same in both: Qt scales a
// screen about its own corner).
QPoint logicalPosition(const QPoint &device, const QPoint &origin, qreal scale);

} // namespace placement
