#include "ibubble.h"
#include "itray.h"
#include "lookout.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMetaMethod>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// Stands in for the watcher: the same two signals, joined to the tray as main
// joins the watcher's.
class NoticeSource : public QObject
{
    Q_OBJECT

public:
    explicit NoticeSource(iTray *tray)
    {
        connect(this, &NoticeSource::newInfo, tray, iTray::infoSlot());
        connect(this, &NoticeSource::newImportantInfo, tray, iTray::importantInfoSlot());
    }

signals:
    void newInfo(const QString &text);
    void newImportantInfo(const QString &text);
};

// The tray controller and its bubble, on the offscreen platform: what a
// notice and a click do. The hide timers are the tray's own children while
// they run, so the test sees them and fires them when it likes.
class tst_tray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void meta_data();
    void meta();
    void startUp();
    void notice_data();
    void notice();
    void iconIsLoadedAgainOnlyWhenItsFileChanged();
    void clicks();
    void aboutBoxLeavesTheProgramRunning();
    void menuChangesReachTheFileAtQuit();

private:
    void start(const QByteArray &config = QByteArray());
    iBubble *bubble() const;
    QImage iconShown() const;
    QList<QTimer *> hideTimers() const { return m_tray->findChildren<QTimer *>(u"hideTimer"_s); }
    void click() { emit m_tray->activated(QSystemTrayIcon::Trigger); }
    QAction *action(const QString &text) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<iTray> m_tray;
    std::unique_ptr<NoticeSource> m_source;
    QImage m_normal;
    QImage m_info;
};

namespace {

QImage square(QColor colour)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Fires a running timer now, through the event loop as its own time would.
void fire(QTimer *timer)
{
    timer->start(0);
}

} // namespace

void tst_tray::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkdir(u"icons"_s));
    m_normal = square(Qt::green);
    m_info = square(Qt::red);
    QVERIFY(m_normal.save(m_dir->filePath(u"icons/lookout.png"_s)));
    QVERIFY(m_info.save(m_dir->filePath(u"icons/lookout_info.png"_s)));
}

void tst_tray::cleanup()
{
    m_source.reset();
    m_tray.reset();
    m_dir.reset();
}

void tst_tray::start(const QByteArray &config)
{
    if (!config.isEmpty()) {
        QFile file(m_dir->filePath(u"config.cfg"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(config);
    }
    m_tray = std::make_unique<iTray>(nullptr, m_dir->path());
    m_source = std::make_unique<NoticeSource>(m_tray.get());
}

iBubble *tst_tray::bubble() const
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *b = qobject_cast<iBubble *>(window))
            return b;
    return nullptr;
}

QImage tst_tray::iconShown() const
{
    return m_tray->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

QAction *tst_tray::action(const QString &text) const
{
    for (QAction *a : m_tray->contextMenu()->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

void tst_tray::meta_data()
{
    QTest::addColumn<const QMetaObject *>("meta");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QStringList>("methods");

    QTest::newRow("watcher") << &lookOut::staticMetaObject << u"lookOut"_s
                             << QStringList{u"newInfo(QString)"_s, u"newImportantInfo(QString)"_s,
                                    u"parseConfig()"_s, u"parseConfigLine(QString)"_s, u"connectToLobby()"_s,
                                    u"analizeInfo()"_s, u"processPackage()"_s, u"isIntresting(QString)"_s};
    QTest::newRow("tray") << &iTray::staticMetaObject << u"iTray"_s
                          << QStringList{u"addToAutorun()"_s, u"removeFromAutorun()"_s, u"ifInAutorun()"_s,
                                 u"parseClick(QSystemTrayIcon::ActivationReason)"_s, u"parseConfig()"_s,
                                 u"parseConfigLine(QString)"_s, u"saveConfig()"_s, u"createMenu()"_s,
                                 u"about()"_s, u"triggerAutorun(bool)"_s, u"triggerSound(bool)"_s,
                                 u"triggerShow(bool)"_s, u"quit()"_s, u"newImportantInfo(QString)"_s,
                                 u"newInfo(QString)"_s, u"setShowFlag(bool)"_s, u"setNormalIcon(bool)"_s};
    QTest::newRow("bubble") << &iBubble::staticMetaObject << u"iBubble"_s
                            << QStringList{
                                   u"visibleState(bool)"_s, u"showMessage(QString)"_s, u"hideMessage()"_s};
}

void tst_tray::meta()
{
    QFETCH(const QMetaObject *, meta);
    QFETCH(QString, className);
    QFETCH(QStringList, methods);

    QCOMPARE(QString::fromLatin1(meta->className()), className);
    QStringList own;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        own.append(QString::fromLatin1(meta->method(i).methodSignature()));
    QCOMPARE(own, methods);
}

void tst_tray::startUp()
{
    QVERIFY(square(Qt::blue).save(m_dir->filePath(u"icons/about.png"_s)));
    QVERIFY(square(Qt::black).save(m_dir->filePath(u"icons/quit.png"_s)));
    start("AUTO_SHOW = FALSE\n");

    QStringList entries;
    for (QAction *a : m_tray->contextMenu()->actions())
        entries.append(a->isSeparator()
                ? u"--"_s
                : a->text() + (a->isCheckable() ? (a->isChecked() ? u" [x]"_s : u" [ ]"_s) : QString()));
    QCOMPARE(entries,
        (QStringList{u"About"_s, u"Auto show [ ]"_s, u"Sound [x]"_s, u"Autorun [ ]"_s, u"--"_s, u"Quit"_s}));
    QVERIFY(!action(u"About"_s)->icon().isNull());
    QVERIFY(!action(u"Quit"_s)->icon().isNull());
    QCOMPARE(m_tray->toolTip(), u"Lookout 1.2"_s);
    QCOMPARE(iconShown(), m_normal);
    QVERIFY(bubble() && bubble()->isHidden());
}

void tst_tray::notice_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("important");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("showTime"); // of the one hide timer; -1: none runs

    QTest::newRow("important: opens the bubble for its time")
        << "SHOW_TIME = 200\n"_ba << true << true << 200;
    QTest::newRow("ordinary: the same") << "SHOW_TIME = 200\n"_ba << false << true << 200;
    QTest::newRow("show time 0: closed at the next pass of the event loop")
        << "SHOW_TIME = 0\n"_ba << true << true << 0;
    QTest::newRow("show time -1: stays until a click") << "SHOW_TIME = -1\n"_ba << true << true << -1;
    QTest::newRow("auto show off: waits for a click, which starts no timer")
        << "AUTO_SHOW = FALSE\nSHOW_TIME = 50\n"_ba << false << false << -1;
}

void tst_tray::notice()
{
    QFETCH(QByteArray, config);
    QFETCH(bool, important);
    QFETCH(bool, opens);
    QFETCH(int, showTime);
    start(config);
    QSignalSpy visible(bubble(), &iBubble::visibleState);

    // Handled within the emission: the bubble is open when emit returns.
    important ? emit m_source->newImportantInfo(u"first"_s) : emit m_source->newInfo(u"first"_s);
    QCOMPARE(bubble()->isVisible(), opens);
    // A second notice replaces the text of an open bubble and starts no timer.
    emit m_source->newInfo(u"<b>Sam</b> on Arena"_s);
    if (!opens) {
        QVERIFY(bubble()->isHidden());
        QCOMPARE(iconShown(), m_info);
        click();
    }
    QVERIFY(bubble()->isVisible());
    QCOMPARE(bubble()->toPlainText(), u"Sam on Arena"_s); // only the latest notice
    QCOMPARE(iconShown(), m_normal); // the bubble puts the normal icon back

    const QList<QTimer *> timers = hideTimers();
    QCOMPARE(timers.size(), showTime >= 0 ? 1 : 0);
    if (timers.isEmpty())
        return;
    QCOMPARE(timers[0]->interval(), showTime);
    QCOMPARE(timers[0]->timerType(), Qt::PreciseTimer); // a coarse one may fire 5 % early
    if (showTime > 0)
        fire(timers[0]);
    QTRY_VERIFY(bubble()->isHidden());
    QCOMPARE(visible.count(), 3); // shown, shown again, hidden
    QCOMPARE(visible.at(2).at(0).toBool(), false);
    QCOMPARE(iconShown(), m_normal);
    QTRY_COMPARE(hideTimers().size(), 0);
}

void tst_tray::iconIsLoadedAgainOnlyWhenItsFileChanged()
{
    start("AUTO_SHOW = FALSE\n");
    emit m_source->newInfo(u"one"_s);
    const qint64 first = m_tray->icon().cacheKey();
    // The same file: the same icon, or every notice would leave another set
    // of scaled copies in Qt's pixmap cache.
    emit m_source->newInfo(u"two"_s);
    QCOMPARE(m_tray->icon().cacheKey(), first);
    // A picture replaced while the program runs shows at the next notice.
    QImage bigger(32, 32, QImage::Format_ARGB32);
    bigger.fill(Qt::blue);
    QVERIFY(bigger.save(m_dir->filePath(u"icons/lookout_info.png"_s)));
    emit m_source->newInfo(u"three"_s);
    QCOMPARE(iconShown(), square(Qt::blue));
}

void tst_tray::clicks()
{
    start("SHOW_TIME = 300\n");
    for (auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick,
             QSystemTrayIcon::Unknown}) {
        emit m_tray->activated(reason);
        QVERIFY(bubble()->isHidden());
    }
    // Before any notice: an empty bubble, in the corner of the work area.
    click();
    QVERIFY(bubble()->isVisible());
    QCOMPARE(bubble()->toPlainText(), QString());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect corner(area.right() - 199, area.bottom() - 149, iBubble::width, iBubble::height);
    QCOMPARE(bubble()->geometry(), corner);
    QVERIFY(bubble()->windowFlags().testFlag(Qt::ToolTip));
    QVERIFY(hideTimers().isEmpty());
    click();
    QVERIFY(bubble()->isHidden());

    // Read-only, and a long text scrolls inside the window, which keeps its
    // size and place.
    bubble()->setGeometry(10, 10, 300, 300);
    QString longText;
    for (int i = 0; i < 50; ++i)
        longText += u"<font color=#00aa00><b>Player%1</b> on Arena<br/></font>"_s.arg(i);
    emit m_source->newImportantInfo(longText);
    QCOMPARE(bubble()->geometry(), corner);
    QVERIFY(bubble()->verticalScrollBar()->maximum() > 0);
    QTest::keyClicks(bubble()->viewport(), u"typed"_s);
    QVERIFY(!bubble()->toPlainText().contains(u"typed"_s));

    // A hide timer is never cancelled: closed and reopened by clicks, the
    // bubble still goes at the notice's time.
    click();
    click();
    QVERIFY(bubble()->isVisible());
    QCOMPARE(hideTimers().size(), 1);
    fire(hideTimers()[0]);
    QTRY_VERIFY(bubble()->isHidden());
}

void tst_tray::aboutBoxLeavesTheProgramRunning()
{
    start();
    QString title, text;
    QTimer::singleShot(0, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    action(u"About"_s)->trigger();
    QCOMPARE(title, u"Lookout 1.2"_s);
    QCOMPARE(text, u"Made by Tarnwick."_s);
    emit m_source->newInfo(u"still here"_s);
    QVERIFY(bubble()->isVisible());
}

void tst_tray::menuChangesReachTheFileAtQuit()
{
    start("SHOW_TIME = 1234\n");
    const QString config = m_dir->filePath(u"config.cfg"_s);
    action(u"Sound"_s)->trigger();
    action(u"Auto show"_s)->trigger();
    QFile file(config);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "SHOW_TIME = 1234\n"_ba); // nothing is written before "Quit"
    file.close();

    emit m_source->newInfo(u"quiet"_s);
    QVERIFY(bubble()->isHidden());

    action(u"Quit"_s)->trigger();
    QVERIFY(!m_tray->isVisible());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
        "#START OF CONFIG FILE\n\nPLAY_SOUND = FALSE\nAUTO_SHOW = FALSE\nSHOW_TIME = 1234\n\n"
        "#FINISH OF CONFIG FILE"_ba);
}

QTEST_MAIN(tst_tray)
#include "tst_tray.moc"
