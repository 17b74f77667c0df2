#include "ibubble.h"
#include "itray.h"
#include "lookout.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

QImage square(QColor colour, int size = 16)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

} // namespace

// The tray controller and its bubble, on the offscreen platform. When the
// bubble hides is told by its visibleState signal, timed from the notice.
class tst_tray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void givenNames();
    void menuAtStartAndItsChangesSavedAtQuit();
    void notice_data();
    void notice();
    void clicks();

private:
    void start(const QByteArray &config);
    // The notice inputs, called as main's connections call them.
    void info(const QString &text) { (m_tray.get()->*iTray::infoSlot())(text); }
    void important(const QString &text) { (m_tray.get()->*iTray::importantInfoSlot())(text); }
    void click() { emit m_tray->activated(QSystemTrayIcon::Trigger); }
    QImage iconShown() const
    {
        return m_tray->icon().pixmap(16).toImage().convertToFormat(QImage::Format_ARGB32);
    }
    // Whether the bubble neither shows nor hides for `ms`: no timer runs.
    bool staysAsItIs(int ms) const { return !QSignalSpy(m_bubble, &iBubble::visibleState).wait(ms); }
    QByteArray saved() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<iTray> m_tray;
    iBubble *m_bubble = nullptr;
    QElapsedTimer m_noticed; // started right before a notice
    QList<qint64> m_hiddenAt; // each time the bubble said it hid, in ms since m_noticed started
};

void tst_tray::init()
{
    m_tray.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkdir(u"icons"_s));
    for (const auto &[name, colour] : {std::pair{"lookout", Qt::green}, {"lookout_info", Qt::red},
             {"about", Qt::blue}, {"quit", Qt::black}})
        QVERIFY(square(colour).save(m_dir->filePath(u"icons/%1.png"_s.arg(QLatin1StringView(name)))));
}

void tst_tray::start(const QByteArray &config)
{
    QFile file(m_dir->filePath(u"config.cfg"_s));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
    file.close();
    m_tray = std::make_unique<iTray>(nullptr, m_dir->path());
    m_bubble = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *bubble = qobject_cast<iBubble *>(window))
            m_bubble = bubble;
    m_noticed.start();
    m_hiddenAt.clear();
    connect(m_bubble, &iBubble::visibleState, this, [this](bool shown) {
        if (!shown)
            m_hiddenAt.append(m_noticed.elapsed());
    });
}

QByteArray tst_tray::saved() const
{
    QFile file(m_dir->filePath(u"config.cfg"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_tray::givenNames()
{
    // The given names, odd spellings included.
    const std::pair<const QMetaObject *, const char *> given[] = {
        {&lookOut::staticMetaObject,
            "newInfo(QString) newImportantInfo(QString) parseConfig() parseConfigLine(QString) "
            "connectToLobby() "
            "analizeInfo() processPackage() isIntresting(QString)"},
        {&iTray::staticMetaObject,
            "addToAutorun() removeFromAutorun() ifInAutorun() parseClick(QSystemTrayIcon::ActivationReason) "
            "parseConfig() parseConfigLine(QString) saveConfig() createMenu() about() triggerAutorun(bool) "
            "triggerSound(bool) triggerShow(bool) quit() newImportantInfo(QString) newInfo(QString) "
            "setShowFlag(bool) setNormalIcon(bool)"},
        {&iBubble::staticMetaObject, "visibleState(bool) showMessage(QString) hideMessage()"},
    };
    for (const auto &[meta, methods] : given)
        for (const QByteArray &method : QByteArray(methods).split(' '))
            QVERIFY2(meta->indexOfMethod(method) >= meta->methodOffset(), method);
}

void tst_tray::menuAtStartAndItsChangesSavedAtQuit()
{
    // Under a dark desktop theme the notice's black lines must still read.
    const QPalette theme = QApplication::palette();
    QApplication::setPalette(QPalette(QColor(40, 40, 40)));
    const QByteArray config = "AUTO_SHOW = FALSE\nSHOW_TIME = 1234\n";
    start(config);
    QApplication::setPalette(theme);
    QCOMPARE(m_bubble->palette().color(QPalette::Inactive, QPalette::Base), QColor(Qt::white));
    QCOMPARE(m_bubble->palette().color(QPalette::Inactive, QPalette::Text), QColor(Qt::black));
    QVERIFY(m_bubble->isHidden());
    QCOMPARE(m_tray->toolTip(), u"Lookout 1.2"_s);
    QCOMPARE(iconShown(), square(Qt::green));

    QStringList entries;
    const QList<QAction *> actions = m_tray->contextMenu()->actions();
    for (QAction *a : actions)
        entries.append(a->isCheckable() ? a->text() + u'=' + QString::number(a->isChecked())
                                        : a->text() + (a->icon().pixmap(16).isNull() ? u""_s : u"=icon"_s));
    QCOMPARE(entries.join(u", "), u"About=icon, Auto show=0, Sound=1, Autorun=0, , Quit=icon"_s);
    QVERIFY(actions[4]->isSeparator());

    QString about;
    QTimer::singleShot(0, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            about = box->windowTitle() + u'|' + box->text();
            box->accept();
        }
    });
    actions[0]->trigger();
    QCOMPARE(about, u"Lookout 1.2|Made by Tarnwick."_s);

    actions[1]->trigger();
    actions[2]->trigger();
    QCOMPARE(saved(), config); // nothing is written before "Quit"
    important(u"shown at once"_s);
    QVERIFY(m_bubble->isVisible());
    actions[5]->trigger();
    QVERIFY(!m_tray->isVisible());
    QCOMPARE(saved(),
        "#START OF CONFIG FILE\n\nPLAY_SOUND = FALSE\nAUTO_SHOW = TRUE\nSHOW_TIME = 1234\n\n"
        "#FINISH OF CONFIG FILE"_ba);
}

void tst_tray::notice_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("showTime"); // of the one hide timer; -1: none runs

    QTest::newRow("opens the bubble for its time") << "SHOW_TIME = 200\n"_ba << true << 200;
    QTest::newRow("show time 0: closed at the next pass of the event loop")
        << "SHOW_TIME = 0\n"_ba << true << 0;
    QTest::newRow("show time -1: stays until a click") << "SHOW_TIME = -1\n"_ba << true << -1;
    QTest::newRow("auto show off: waits for a click, which starts no timer")
        << "AUTO_SHOW = FALSE\nSHOW_TIME = 50\n"_ba << false << -1;
}

void tst_tray::notice()
{
    QFETCH(QByteArray, config);
    QFETCH(bool, opens);
    QFETCH(int, showTime);
    start(config);

    m_noticed.start();
    important(u"first"_s);
    QCOMPARE(m_bubble->isVisible(), opens);
    const qint64 noticeIcon = m_tray->icon().cacheKey();
    // A second notice replaces the text of an open bubble and starts no timer.
    info(u"<b>Sam</b> on Arena"_s);
    if (!opens) {
        // The same icon: a new one each notice would leave more scaled copies in Qt's pixmap cache.
        QCOMPARE(m_tray->icon().cacheKey(), noticeIcon);
        QCOMPARE(iconShown(), square(Qt::red));
        // Loaded again once its file changed; another size, as its time may not have moved.
        QVERIFY(square(Qt::blue, 32).save(m_dir->filePath(u"icons/lookout_info.png"_s)));
        info(u"<b>Sam</b> on Arena"_s);
        QCOMPARE(iconShown(), square(Qt::blue));
        click();
    }
    QVERIFY(m_bubble->isVisible());
    QCOMPARE(m_bubble->toPlainText(), u"Sam on Arena"_s);
    QCOMPARE(iconShown(), square(Qt::green)); // the bubble puts the normal icon back

    if (showTime < 0) {
        QVERIFY(staysAsItIs(250));
        return;
    }
    QTRY_COMPARE(m_hiddenAt.size(), 1);
    QVERIFY(m_bubble->isHidden());
    QVERIFY2(m_hiddenAt[0] >= showTime, "hidden early, as a coarse timer may fire 5 % early");
    QVERIFY(staysAsItIs(250)); // the second notice started no timer
    click(); // the tray knows the timer closed it
    QVERIFY(m_bubble->isVisible());
}

void tst_tray::clicks()
{
    start("SHOW_TIME = 300\n");
    for (auto reason :
        {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick}) {
        emit m_tray->activated(reason);
        QVERIFY(m_bubble->isHidden());
    }
    // Before any notice: the bubble in the corner of the work area, with no timer.
    click();
    QVERIFY(m_bubble->isVisible());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect corner(area.bottomRight() - QPoint(199, 149), QSize(200, 150));
    QCOMPARE(m_bubble->geometry(), corner);
    QVERIFY(m_bubble->windowFlags().testFlag(Qt::ToolTip)); // frameless, on top, out of the task bar
    click();
    QVERIFY(m_bubble->isHidden());

    // Moved away, it comes back; a long text scrolls inside it; nobody can type in it.
    m_bubble->setGeometry(10, 10, 300, 300);
    m_noticed.start();
    m_hiddenAt.clear();
    important(u"<b>Player</b> on Arena<br/>"_s.repeated(50));
    QCOMPARE(m_bubble->geometry(), corner);
    QTRY_VERIFY(m_bubble->verticalScrollBar()->isVisible());
    QTest::keyClicks(m_bubble->viewport(), u"typed"_s);
    QVERIFY(!m_bubble->toPlainText().contains(u"typed"_s));

    // A hide timer is never cancelled: closed and reopened by clicks, the
    // bubble still goes at the notice's time, and only then: no click starts
    // a timer of its own.
    click();
    click();
    QTRY_COMPARE(m_hiddenAt.size(), 2);
    QVERIFY(m_bubble->isHidden());
    QVERIFY(m_hiddenAt[1] >= 300);
    QVERIFY(staysAsItIs(250));
}

QTEST_MAIN(tst_tray)
#include "tst_tray.moc"
