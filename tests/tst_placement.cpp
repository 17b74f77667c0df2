#include "placement.h"

#include <QTest>

using placement::Screens;
using placement::Strut;

Q_DECLARE_METATYPE(Screens)

namespace {

// A panel along the bottom of the X screen's `root`, `height` high, over the
// columns from `from` to `to`; as _NET_WM_STRUT_PARTIAL has it.
Strut bottomPanel(const QSize &root, int height, int from, int to)
{
    return *placement::strutFromProperty(
        {0, 0, 0, quint32(height), 0, 0, 0, 0, 0, 0, quint32(from), quint32(to)}, root);
}

// A panel at the bottom of `monitor`: its strut reaches from the screen's edge.
Strut panelUnder(const QRect &monitor, const QSize &root, int height)
{
    return bottomPanel(root, root.height() - monitor.bottom() - 1 + height, monitor.left(), monitor.right());
}

Screens layout(const QRect &primary, int monitors, const QSize &root, const QList<Strut> &struts = {},
    const QRect &desktopWorkArea = {})
{
    Screens s;
    s.monitor = primary;
    s.monitorCount = monitors;
    s.root = root;
    s.struts = struts;
    s.desktopWorkArea = desktopWorkArea;
    return s;
}

} // namespace

// Where the bubble goes for the screens a platform reports: its device
// rectangle, right and bottom edges on the primary monitor's work area.
class tst_placement : public QObject
{
    Q_OBJECT

private slots:
    void bubbleOnTheWorkAreasCorner_data();
    void bubbleOnTheWorkAreasCorner();
};

void tst_placement::bubbleOnTheWorkAreasCorner_data()
{
    QTest::addColumn<Screens>("screens");
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<QRect>("bubble");

    const QSize hd(1920, 1080);
    const QRect left(0, 0, 1920, 1080), right(1920, 0, 1920, 1080);
    const QSize pair(3840, 1080);
    QTest::newRow("one monitor, the window manager's work area above its panel") << layout(left, 1, hd,
        {panelUnder(left, hd, 30)}, QRect(0, 0, 1920, 1050)) << 1.0 << QRect(1720, 900, 200, 150);
    QTest::newRow("one monitor and no window manager: its corner")
        << layout(left, 1, hd) << 1.0 << QRect(1720, 930, 200, 150);
    QTest::newRow("two monitors, primary on the right with the panel") << layout(right, 2, pair,
        {panelUnder(right, pair, 30)}, QRect(0, 0, 3840, 1050)) << 1.0 << QRect(3640, 900, 200, 150);
    QTest::newRow("two monitors, primary on the left, the panel on the other") << layout(left, 2, pair,
        {panelUnder(right, pair, 30)}, QRect(0, 0, 3840, 1050)) << 1.0 << QRect(1720, 930, 200, 150);

    const QRect big(0, 0, 2560, 1440), beside(2560, 0, 1920, 1080);
    const QSize mixed(4480, 1440);
    QTest::newRow("1440p left of a 1080p primary with the panel, tops aligned")
        << layout(beside, 2, mixed, {panelUnder(beside, mixed, 30)}) << 1.0 << QRect(4280, 900, 200, 150);
    QTest::newRow("1440p primary beside a 1080p with the panel: the primary's own corner")
        << layout(big, 2, mixed, {panelUnder(beside, mixed, 30)}, QRect(0, 0, 4480, 1050)) << 1.0
        << QRect(2360, 1290, 200, 150);
    QTest::newRow("1440p primary with a panel of its own, beside a 1080p")
        << layout(big, 2, mixed, {panelUnder(big, mixed, 40)}) << 1.0 << QRect(2360, 1250, 200, 150);
    const QRect upper(0, 0, 1920, 1080), lower(0, 1080, 1920, 1080);
    const QSize stack(1920, 2160);
    QTest::newRow("stacked monitors, the panel at the foot of the lower one, the upper primary")
        << layout(upper, 2, stack, {panelUnder(lower, stack, 30)}) << 1.0 << QRect(1720, 930, 200, 150);
    QTest::newRow("stacked monitors, the panel at the foot of the upper primary")
        << layout(upper, 2, stack, {panelUnder(upper, stack, 30)}) << 1.0 << QRect(1720, 900, 200, 150);
    QTest::newRow("a panel on the primary's left, one on the other's right")
        << layout(left, 2, pair,
               {*placement::strutFromProperty({48, 0, 0, 0, 0, 1079, 0, 0, 0, 0, 0, 0}, pair),
                   *placement::strutFromProperty({0, 48, 0, 0, 0, 0, 0, 1079, 0, 0, 0, 0}, pair)})
        << 1.0 << QRect(1720, 930, 200, 150);
    QTest::newRow("a panel with the old whole-edge strut takes the bottom of both") << layout(left, 2, pair,
        {*placement::strutFromProperty({0, 0, 0, 30}, pair)}) << 1.0 << QRect(1720, 900, 200, 150);

    Screens xwayland = layout(QRect(0, 0, 1280, 800), 2, QSize(2560, 800), {}, QRect(0, 0, 2560, 760));
    QTest::newRow("XWayland, two outputs, no X panels: the compositor's work area")
        << xwayland << 1.0 << QRect(1080, 610, 200, 150);
    Screens published = layout(right, 2, pair, {panelUnder(left, pair, 30)}, QRect(0, 0, 3840, 1050));
    published.monitorWorkAreas = {QRect(0, 0, 1920, 1050), QRect(1920, 0, 1920, 1048)};
    QTest::newRow("work areas published per monitor: the primary's")
        << published << 1.0 << QRect(3640, 898, 200, 150);

    QTest::newRow("a strut that reserves everything is not believed")
        << layout(right, 2, pair, {bottomPanel(pair, -1, 0, 3839)}) << 1.0 << QRect(3640, 930, 200, 150);
    QTest::newRow("a strut whose range ends before it starts covers nothing")
        << layout(right, 2, pair, {bottomPanel(pair, 30, 3839, 1920)}) << 1.0 << QRect(3640, 930, 200, 150);

    const QSize qhd(2560, 1440);
    const QRect screen(0, 0, 2560, 1440), area(0, 0, 2560, 1409);
    QTest::newRow("150 %, a 31-pixel panel: inside the screen's last column")
        << layout(screen, 1, qhd, {}, area) << 1.5 << QRect(2260, 1184, 300, 225);
    QTest::newRow("125 %, the Windows taskbar at 1056: its last row above it")
        << layout(left, 1, hd, {}, QRect(0, 0, 1920, 1056)) << 1.25 << QRect(1670, 868, 250, 188);
    QTest::newRow("175 %, two monitors, primary on the right")
        << layout(right, 2, pair, {panelUnder(right, pair, 53)}) << 1.75 << QRect(3490, 764, 350, 263);
    QTest::newRow("200 %, an odd work area")
        << layout(screen, 1, qhd, {}, area) << 2.0 << QRect(2160, 1109, 400, 300);
}

void tst_placement::bubbleOnTheWorkAreasCorner()
{
    QFETCH(Screens, screens);
    QFETCH(qreal, scale);
    QFETCH(QRect, bubble);

    const QRect placed = placement::bubbleRect(placement::workArea(screens), QSize(200, 150), scale);
    QCOMPARE(placed, bubble);
    // The logical position handed to Qt maps back, as Qt maps it, within a pixel.
    const QPoint origin = screens.monitor.topLeft();
    const QPoint logical = placement::logicalPosition(placed.topLeft(), origin, scale);
    const QPoint back = (logical - origin) * scale + origin;
    QVERIFY2((back - placed.topLeft()).manhattanLength() <= 2,
        qPrintable(QStringLiteral("%1,%2").arg(back.x()).arg(back.y())));
}

QTEST_GUILESS_MAIN(tst_placement)
#include "tst_placement.moc"
