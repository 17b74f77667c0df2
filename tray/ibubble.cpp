#include "ibubble.h"

#include "freeheap.h"
#include "placement.h"
#include "screenfacts.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QTimer>

namespace {

// A frameless window that stays on top, takes no focus and keeps out of the
// task bar: a tool tip. Natively on Wayland, Qt 6.8 made a tool tip without a
// parent an ordinary toplevel window that the compositor places; Qt 6.11
// makes every tool tip a popup of its parent window, and a tray program has
// none, so Qt refuses the window and closes it at once. There the bubble is
// such a toplevel by its own flags: a tool window.
Qt::WindowFlags bubbleFlags()
{
    if (QGuiApplication::platformName().startsWith(u"wayland"))
        return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    return Qt::ToolTip;
}

} // namespace

iBubble::iBubble(QObject *)
    : QTextEdit(nullptr)
{
    setReadOnly(true);
    // The notice colours (black, green, light grey) were chosen for a light
    // page; a dark desktop theme would draw the black lines on near black.
    // So the bubble keeps a light page of its own whatever the theme; the
    // selection and the scroll bars keep the theme's own colours.
    QPalette page = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        page.setColor(group, QPalette::Base, Qt::white);
        page.setColor(group, QPalette::Window, Qt::white);
        page.setColor(group, QPalette::Text, Qt::black);
    }
    setPalette(page);
    // Nobody can edit the text, so there is nothing to undo: each notice's
    // text would otherwise be kept a second time as undo steps.
    setUndoRedoEnabled(false);
    // A notice must never take the keyboard from the game in front.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // A monitor unplugged or made primary, a resolution or a scale changed:
    // an open bubble moves to the primary's corner rather than stay where no
    // screen may show it. Queued, so Qt has settled its screens first.
    for (QScreen *screen : QGuiApplication::screens())
        followScreen(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &iBubble::followScreen);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &iBubble::placeIfShown, Qt::QueuedConnection);
    connect(
        qGuiApp, &QGuiApplication::primaryScreenChanged, this, &iBubble::placeIfShown, Qt::QueuedConnection);
    // And when a panel moves, comes or goes.
    workAreaWatch
        = screenfacts::watchWorkArea([this] { QTimer::singleShot(0, this, &iBubble::placeIfShown); });
}

iBubble::~iBubble() = default;

void iBubble::followScreen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, &iBubble::placeIfShown, Qt::QueuedConnection);
    connect(screen, &QScreen::availableGeometryChanged, this, &iBubble::placeIfShown, Qt::QueuedConnection);
    connect(screen, &QScreen::logicalDotsPerInchChanged, this, &iBubble::placeIfShown, Qt::QueuedConnection);
    placeIfShown();
}

void iBubble::placeIfShown()
{
    if (isVisible())
        showPlaced();
}

// Qt on X11 keeps a shown window's size in device pixels when the scale
// changes (a desktop's settings daemon telling a new Xft/DPI): the window
// then shows only part of its page, at the new scale, and setting the same
// logical size again changes nothing. Such a window is made anew.
bool iBubble::rescaled() const
{
    return windowHandle() && QGuiApplication::platformName() == u"xcb" && devicePixelRatio() != madeAtScale;
}

// At the bottom right of the primary monitor's work area, to the device
// pixel where the platform tells its work area in device pixels.
void iBubble::showPlaced()
{
    if (rescaled()) {
        hide();
        destroy();
    }
    const QScreen *screen = QGuiApplication::primaryScreen();
    const std::optional<QRect> device = screen ? screenfacts::primaryWorkArea() : std::nullopt;
    std::optional<QPoint> corner;
    if (device) {
        const qreal scale = screen->devicePixelRatio();
        const QRect target = placement::bubbleRect(*device, QSize(width, height), scale);
        setGeometry(QRect(placement::logicalPosition(target.topLeft(), screen->geometry().topLeft(), scale),
            QSize(width, height)));
        corner = target.topLeft();
    } else if (screen) {
        const QRect area = screen->availableGeometry();
        setGeometry(area.x() + area.width() - width, area.y() + area.height() - height, width, height);
    }
    show();
    madeAtScale = devicePixelRatio();
    // Qt's own mapping of that logical position may miss by a pixel, and the
    // window Qt makes as it shows one has Qt's own rounding of it.
    if (corner)
        screenfacts::moveNatively(*this, *corner);
}

void iBubble::showMessage(const QString &text)
{
    clear();
    insertHtml(text);
    // Setting flags re-creates a shown window, so only when they differ.
    if (const Qt::WindowFlags flags = bubbleFlags(); windowFlags() != flags)
        setWindowFlags(flags);
    // The work area may have changed since the last notice: a panel moved.
    showPlaced();
    emit visibleState(true);
}

void iBubble::hideMessage()
{
    // The user is reading it.
    if (underMouse())
        return;
    emit visibleState(false);
    hide();
    returnFreeHeapSoon(this);
}
