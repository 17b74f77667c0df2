#pragma once

#include <QPoint>
#include <QRect>

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

} // namespace screenfacts
