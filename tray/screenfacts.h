#pragma once

#include <QAbstractNativeEventFilter>
#include <QPoint>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

// The platform's facts about the primary monitor, for the rule in
// placement.h, and the one call that moves a window to a device pixel.
namespace screenfacts {

// The primary monitor's work area in device pixels, as the platform reports
// it, where a window can be placed to the pixel: X11 (XWayland too) and
// Windows. Nothing elsewhere (a Wayland compositor places windows itself),
// nor where the platform does not answer: Qt's own work area then serves.
std::optional<QRect> primaryWorkArea();

// Moves the shown window's native window so its top left corner lies on
// `device`.
void moveNatively(QWidget &window, const QPoint &device);

// Calls `changed` each time the window manager's work area changes (a panel
// moved, came or went) where Qt does not say so; nothing where it does.
std::unique_ptr<QAbstractNativeEventFilter> watchWorkArea(std::function<void()> changed);

} // namespace screenfacts
