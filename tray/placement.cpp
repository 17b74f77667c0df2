#include "placement.h"

#include <algorithm>

namespace placement {

namespace {

// Another program's property: any value at all may come. A width past the
// screen reserves the screen, a range is kept inside it.
int width(quint32 value, int limit)
{
    return int(std::min<quint32>(value, quint32(std::max(limit, 0))));
}
int coordinate(quint32 value, int limit)
{
    return int(std::min<quint32>(value, quint32(std::max(limit - 1, 0))));
}

} // namespace

std::optional<Strut> strutFromProperty(const QList<quint32> &v, const QSize &root)
{
    const int w = root.width(), h = root.height();
    Strut s;
    if (v.size() == 4 || v.size() == 12) {
        s.left = width(v[0], w);
        s.right = width(v[1], w);
        s.top = width(v[2], h);
        s.bottom = width(v[3], h);
    }
    if (v.size() == 4) {
        s.leftEndY = s.rightEndY = h - 1;
        s.topEndX = s.bottomEndX = w - 1;
        return s;
    }
    if (v.size() != 12)
        return std::nullopt;
    s.leftStartY = coordinate(v[4], h);
    s.leftEndY = coordinate(v[5], h);
    s.rightStartY = coordinate(v[6], h);
    s.rightEndY = coordinate(v[7], h);
    s.topStartX = coordinate(v[8], w);
    s.topEndX = coordinate(v[9], w);
    s.bottomStartX = coordinate(v[10], w);
    s.bottomEndX = coordinate(v[11], w);
    return s;
}

QRect monitorLessStruts(const QRect &monitor, const QSize &root, const QList<Strut> &struts)
{
    // Each strip is measured from the X screen's edge, as desktops read
    // struts; it cuts the side of the monitor it lies on only where it
    // covers part of the monitor. A range that ends before it starts covers
    // nothing (QRect::intersects would take it the other way round).
    const auto covers = [&](QPoint from, QPoint to) {
        const QRect strip(from, to);
        return strip.isValid() && monitor.intersects(strip);
    };
    const int rightEdge = root.width(), bottomEdge = root.height();
    QRect area = monitor;
    for (const Strut &s : struts) {
        if (s.left > 0 && covers({0, s.leftStartY}, {s.left - 1, s.leftEndY}))
            area.setLeft(std::max(area.left(), s.left));
        if (s.right > 0 && covers({rightEdge - s.right, s.rightStartY}, {rightEdge - 1, s.rightEndY}))
            area.setRight(std::min(area.right(), rightEdge - s.right - 1));
        if (s.top > 0 && covers({s.topStartX, 0}, {s.topEndX, s.top - 1}))
            area.setTop(std::max(area.top(), s.top));
        if (s.bottom > 0 && covers({s.bottomStartX, bottomEdge - s.bottom}, {s.bottomEndX, bottomEdge - 1}))
            area.setBottom(std::min(area.bottom(), bottomEdge - s.bottom - 1));
    }
    return area;
}

QRect workArea(const Screens &screens)
{
    const QRect &monitor = screens.monitor;
    QRect area;
    if (screens.monitorCount <= 1) {
        // One monitor: the window manager's work area, as Qt reads it.
        area = screens.desktopWorkArea.isValid() ? monitor & screens.desktopWorkArea : monitor;
    } else {
        const auto own = std::find_if(screens.monitorWorkAreas.cbegin(), screens.monitorWorkAreas.cend(),
            [&](const QRect &r) { return r.isValid() && monitor.contains(r); });
        if (own != screens.monitorWorkAreas.cend())
            area = *own;
        else if (!screens.struts.isEmpty())
            area = monitorLessStruts(monitor, screens.root, screens.struts);
        // No panel of X's own (XWayland: the compositor's panels reserve
        // through Wayland): the single work area is all there is to go by.
        else if (screens.desktopWorkArea.isValid())
            area = monitor & screens.desktopWorkArea;
        else
            area = monitor;
    }
    // Panels that leave nothing of the monitor are not believed.
    return area.isEmpty() ? monitor : area;
}

QRect bubbleRect(const QRect &workArea, const QSize &size, qreal scale)
{
    const QSize device = size * scale; // rounded as Qt rounds a window's size
    return QRect(
        QPoint(workArea.right() + 1 - device.width(), workArea.bottom() + 1 - device.height()), device);
}

QPoint logicalPosition(const QPoint &device, const QPoint &origin, qreal scale)
{
    return (device - origin) * (1.0 / scale) + origin;
}

} // namespace placement
