#include "screenfacts.h"

#include "placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#elif QT_CONFIG(xcb)
#include <QByteArray>
#include <QList>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <type_traits>
#endif

namespace screenfacts {

#ifdef Q_OS_WIN

// Qt reports the primary monitor's own work area (GetMonitorInfo's rcWork)
// as its available geometry, but in logical pixels, rounded: at 125 % the
// bubble placed by it lay a pixel over the taskbar (Qt 6.4). So it is read
// here in device pixels; Qt makes the process aware of each monitor's DPI,
// so rcWork is in device pixels.
std::optional<QRect> primaryWorkArea()
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info))
        return std::nullopt;
    const RECT &r = info.rcWork;
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

void moveNatively(QWidget &window, const QPoint &device)
{
    if (const QWindow *handle = window.windowHandle())
        SetWindowPos(reinterpret_cast<HWND>(handle->winId()), nullptr, device.x(), device.y(), 0, 0,
            SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Qt re-reads the work areas when the taskbar moves and says so.
std::unique_ptr<QAbstractNativeEventFilter> watchWorkArea(std::function<void()>)
{
    return nullptr;
}

#elif QT_CONFIG(xcb)

namespace {

xcb_connection_t *connection()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

struct Freed
{
    void operator()(void *p) const { std::free(p); }
};

// A reply, or nothing. Its error (a window gone meanwhile) is dropped here,
// not handed on to Qt, which would log it.
template <typename Read, typename Cookie> auto reply(Read read, xcb_connection_t *c, Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    auto *r = read(c, cookie, &error);
    std::free(error);
    return std::unique_ptr<std::remove_pointer_t<decltype(r)>, Freed>(r);
}

// Nothing where no program has made the atom.
xcb_atom_t atom(xcb_connection_t *c, const QByteArray &name)
{
    const auto r = reply(xcb_intern_atom_reply, c, xcb_intern_atom(c, true, name.size(), name.constData()));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

struct Asked
{
    xcb_get_property_cookie_t cookie{};
    bool sent = false;
};

// At most `count` 32-bit values of the property.
Asked ask(xcb_connection_t *c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type, uint32_t count)
{
    if (name == XCB_ATOM_NONE)
        return {};
    return {xcb_get_property(c, false, window, name, type, 0, count), true};
}

// Nothing for a property of another type or format, or none at all.
QList<quint32> values(xcb_connection_t *c, const Asked &asked)
{
    if (!asked.sent)
        return {};
    const auto r = reply(xcb_get_property_reply, c, asked.cookie);
    if (!r || r->format != 32 || r->type == XCB_ATOM_NONE)
        return {};
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(r.get()));
    return QList<quint32>(data, data + xcb_get_property_value_length(r.get()) / 4);
}

QList<QRect> rectangles(const QList<quint32> &v)
{
    QList<QRect> result;
    for (qsizetype i = 0; i + 3 < v.size(); i += 4)
        result.append(
            QRect(int(qint32(v[i])), int(qint32(v[i + 1])), int(v[i + 2] & 0xffff), int(v[i + 3] & 0xffff)));
    return result;
}

// Window lists and desktop counts come from other programs: bounded.
constexpr uint32_t maxWindows = 4096;
constexpr uint32_t maxDesktops = 64;

} // namespace

// Qt's work area is wrong for the user with more than one monitor: the
// window manager's _NET_WORKAREA is one rectangle for the whole X screen,
// so Qt (6.4 to 6.8) gives each monitor's whole rectangle as its available
// geometry, and the bubble covered the panel. Qt also rounds a scaled work
// area and a scaled window separately, a pixel off at 125 or 150 %. So the
// facts are read here in device pixels, as desktops read them: the RandR
// monitors, the struts of the managed windows and the published work areas.
std::optional<QRect> primaryWorkArea()
{
    xcb_connection_t *c = connection();
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!c || !primary)
        return std::nullopt;
    // The first X screen's: with RandR, every monitor is on it. A request of
    // an extension the server lacks would close Qt's connection.
    const xcb_screen_iterator_t first = xcb_setup_roots_iterator(xcb_get_setup(c));
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (!first.rem || !randr || !randr->present)
        return std::nullopt;
    const xcb_window_t root = first.data->root;
    const auto rootGeometry = reply(xcb_get_geometry_reply, c, xcb_get_geometry(c, root));
    const auto monitors = reply(xcb_randr_get_monitors_reply, c, xcb_randr_get_monitors(c, root, true));
    if (!rootGeometry || !monitors)
        return std::nullopt;

    placement::Screens screens;
    screens.root = QSize(rootGeometry->width, rootGeometry->height);
    // The monitor RandR calls primary, as Qt does; where none is, the one at
    // the corner of Qt's primary screen, which keeps its device pixels' top
    // left corner. Not the corner first: Qt 6.8 keeps the old size of a
    // monitor that changed under the same name, and may keep its place.
    const QPoint corner = primary->geometry().topLeft();
    screens.monitorCount = monitors->nMonitors;
    std::optional<QRect> flagged, atCorner;
    auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get());
    for (; it.rem; xcb_randr_monitor_info_next(&it)) {
        const QRect monitor(it.data->x, it.data->y, it.data->width, it.data->height);
        if (it.data->primary && !flagged)
            flagged = monitor;
        if (monitor.topLeft() == corner && !atCorner)
            atCorner = monitor;
    }
    if (!flagged && !atCorner)
        return std::nullopt;
    screens.monitor = flagged ? *flagged : *atCorner;

    const QList<quint32> desktop
        = values(c, ask(c, root, atom(c, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL, 1));
    const quint32 d = desktop.isEmpty() ? 0 : std::min(desktop.first(), maxDesktops - 1);
    const QList<QRect> workAreas
        = rectangles(values(c, ask(c, root, atom(c, "_NET_WORKAREA"), XCB_ATOM_CARDINAL, 4 * maxDesktops)));
    if (d < quint32(workAreas.size()))
        screens.desktopWorkArea = workAreas[d];
    screens.monitorWorkAreas = rectangles(values(
        c, ask(c, root, atom(c, "_GTK_WORKAREAS_D" + QByteArray::number(d)), XCB_ATOM_CARDINAL, 4 * 64)));

    const xcb_atom_t strutPartial = atom(c, "_NET_WM_STRUT_PARTIAL"), strut = atom(c, "_NET_WM_STRUT");
    const QList<quint32> clients
        = values(c, ask(c, root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, maxWindows));
    // Asked all at once, read afterwards: one round trip, not one a window.
    QList<std::pair<Asked, Asked>> asked;
    for (const quint32 client : clients)
        asked.append({ask(c, client, strutPartial, XCB_ATOM_CARDINAL, 12),
            ask(c, client, strut, XCB_ATOM_CARDINAL, 4)});
    for (const auto &[partial, whole] : asked) {
        const QList<quint32> p = values(c, partial), w = values(c, whole);
        if (const auto s = placement::strutFromProperty(p.isEmpty() ? w : p, screens.root))
            screens.struts.append(*s);
    }
    return placement::workArea(screens);
}

// The window as it is now: Qt 6.4 may make the X window anew as it shows a
// tool tip (its stays-on-top flag set anew), and QWidget::winId() then
// still names the old one.
void moveNatively(QWidget &window, const QPoint &device)
{
    xcb_connection_t *c = connection();
    const QWindow *handle = window.windowHandle();
    if (!c || !handle)
        return;
    const uint32_t position[] = {uint32_t(device.x()), uint32_t(device.y())};
    xcb_configure_window(
        c, xcb_window_t(handle->winId()), XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, position);
    xcb_flush(c);
}

namespace {

// Qt takes note of the root window's _NET_WORKAREA, but with several
// monitors it says nothing when it changes: its available geometry stays the
// whole monitor. A panel that moves to the new primary after the monitors
// changed (LXQt 2's) sets its strut there only after Qt has told of the
// monitors, so the change of the work area is the cue.
class WorkAreaWatch final : public QAbstractNativeEventFilter
{
public:
    WorkAreaWatch(xcb_atom_t workArea, std::function<void()> changed)
        : m_workArea(workArea)
        , m_changed(std::move(changed))
    {
        qGuiApp->installNativeEventFilter(this);
    }
    ~WorkAreaWatch() override
    {
        if (qGuiApp)
            qGuiApp->removeNativeEventFilter(this);
    }
    Q_DISABLE_COPY_MOVE(WorkAreaWatch)

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if (type == "xcb_generic_event_t" && (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY
            && reinterpret_cast<const xcb_property_notify_event_t *>(event)->atom == m_workArea)
            m_changed();
        return false;
    }

private:
    xcb_atom_t m_workArea;
    std::function<void()> m_changed;
};

} // namespace

std::unique_ptr<QAbstractNativeEventFilter> watchWorkArea(std::function<void()> changed)
{
    xcb_connection_t *c = connection();
    if (!c)
        return nullptr;
    // Made if no window manager has made it yet: one may come later.
    const QByteArray name = "_NET_WORKAREA";
    const auto r = reply(xcb_intern_atom_reply, c, xcb_intern_atom(c, false, name.size(), name.constData()));
    if (!r)
        return nullptr;
    return std::make_unique<WorkAreaWatch>(r->atom, std::move(changed));
}

#else

std::optional<QRect> primaryWorkArea()
{
    return std::nullopt;
}

void moveNatively(QWidget &, const QPoint &) {}

std::unique_ptr<QAbstractNativeEventFilter> watchWorkArea(std::function<void()>)
{
    return nullptr;
}

#endif

} // namespace screenfacts
