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
// notice and a click do.
class tst_tray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void meta_data();
    void meta();
    void menu();
    void noticeOpensTheBubble_data();
    void noticeOpensTheBubble();
    void noticeWithAutoShowOffWaitsForAClick();
    void iconIsLoadedAgainOnlyWhenItsFileChanged();
    void clickToggles();
    void openBubbleKeepsItsTimer();
    void timerClosesABubbleReopenedByAClick();
    void zeroAndNegativeShowTime_data();
    void zeroAndNegativeShowTime();
    void bubbleFollowsTheWorkArea();
    void bubbleIsReadOnlyAndScrolls();
    void noticeIsHandledWithinTheEmission();
    void aboutBoxLeavesTheProgramRunning();
    void menuChangesReachTheFileAtQuit();

private:
    void start(const QByteArray &config = QByteArray());
    iBubble *bubble() const;
    QImage iconShown() const;
    void notice(const QString &text, bool important = true);
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

void tst_tray::notice(const QString &text, bool important)
{
    if (important)
        emit m_source->newImportantInfo(text);
    else
        emit m_source->newInfo(text);
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

void tst_tray::menu()
{
    QFile icon(m_dir->filePath(u"icons/about.png"_s));
    QVERIFY(square(Qt::blue).save(icon.fileName()));
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
    QVERIFY(bubble());
    QVERIFY(bubble()->isHidden());
}

void tst_tray::noticeOpensTheBubble_data()
{
    QTest::addColumn<bool>("important");
    QTest::newRow("important") << true;
    QTest::newRow("ordinary") << false;
}

void tst_tray::noticeOpensTheBubble()
{
    QFETCH(bool, important);
    start("SHOW_TIME = 200\n");
    QSignalSpy visible(bubble(), &iBubble::visibleState);

    notice(u"<b>Sam</b> on Arena"_s, important);
    QVERIFY(bubble()->isVisible());
    QCOMPARE(bubble()->toPlainText(), u"Sam on Arena"_s);
    QCOMPARE(visible.count(), 1);
    QCOMPARE(visible.at(0).at(0).toBool(), true);
    // Opened at once, so the normal icon is back at once.
    QCOMPARE(iconShown(), m_normal);

    QTRY_VERIFY(bubble()->isHidden());
    QCOMPARE(visible.count(), 2);
    QCOMPARE(visible.at(1).at(0).toBool(), false);
    QCOMPARE(iconShown(), m_normal);
}

void tst_tray::noticeWithAutoShowOffWaitsForAClick()
{
    start("AUTO_SHOW = FALSE\nSHOW_TIME = 50\n");
    notice(u"first"_s);
    notice(u"second"_s, false);
    QVERIFY(bubble()->isHidden());
    QCOMPARE(iconShown(), m_info);

    emit m_tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(bubble()->isVisible());
    QCOMPARE(bubble()->toPlainText(), u"second"_s);
    QCOMPARE(iconShown(), m_normal);
    QTest::qWait(150); // a bubble opened by a click has no timer
    QVERIFY(bubble()->isVisible());
}

void tst_tray::iconIsLoadedAgainOnlyWhenItsFileChanged()
{
    start("AUTO_SHOW = FALSE\n");
    notice(u"one"_s);
    const qint64 first = m_tray->icon().cacheKey();
    // The same file: the same icon, or every notice would leave another set
    // of scaled copies in Qt's pixmap cache.
    notice(u"two"_s);
    QCOMPARE(m_tray->icon().cacheKey(), first);
    // A picture replaced while the program runs shows at the next notice.
    QImage bigger(32, 32, QImage::Format_ARGB32);
    bigger.fill(Qt::blue);
    QVERIFY(bigger.save(m_dir->filePath(u"icons/lookout_info.png"_s)));
    notice(u"three"_s);
    QCOMPARE(iconShown(), square(Qt::blue));
}

void tst_tray::clickToggles()
{
    start();
    for (auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick,
             QSystemTrayIcon::Unknown}) {
        emit m_tray->activated(reason);
        QVERIFY(bubble()->isHidden());
    }
    emit m_tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(bubble()->isVisible());
    QCOMPARE(bubble()->toPlainText(), QString()); // nothing received yet: an empty bubble
    QCOMPARE(bubble()->size(), QSize(iBubble::width, iBubble::height));
    emit m_tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(bubble()->isHidden());
}

void tst_tray::openBubbleKeepsItsTimer()
{
    start("SHOW_TIME = 300\n");
    QSignalSpy visible(bubble(), &iBubble::visibleState);
    notice(u"first"_s);
    QTest::qWait(150);
    notice(u"second"_s); // already open: replaces the text, starts no timer
    QCOMPARE(bubble()->toPlainText(), u"second"_s);
    QTRY_VERIFY(bubble()->isHidden());
    QTest::qWait(300);
    QCOMPARE(visible.count(), 3); // shown, shown, hidden: no second timer
}

void tst_tray::timerClosesABubbleReopenedByAClick()
{
    start("SHOW_TIME = 300\n");
    notice(u"news"_s);
    emit m_tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(bubble()->isHidden());
    emit m_tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(bubble()->isVisible());
    QTRY_VERIFY(bubble()->isHidden());
}

void tst_tray::zeroAndNegativeShowTime_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("closes");
    QTest::newRow("0: closed at the next pass of the event loop") << "SHOW_TIME = 0\n"_ba << true;
    QTest::newRow("-1: stays until a click") << "SHOW_TIME = -1\n"_ba << false;
}

void tst_tray::zeroAndNegativeShowTime()
{
    QFETCH(QByteArray, config);
    QFETCH(bool, closes);
    start(config);
    notice(u"news"_s);
    QVERIFY(bubble()->isVisible());
    QTest::qWait(100);
    QCOMPARE(bubble()->isHidden(), closes);
}

void tst_tray::bubbleFollowsTheWorkArea()
{
    start("SHOW_TIME = -1\n");
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect corner(area.right() - 199, area.bottom() - 149, 200, 150);
    notice(u"one"_s);
    QCOMPARE(bubble()->geometry(), corner);
    QVERIFY(bubble()->windowFlags().testFlag(Qt::ToolTip));
    bubble()->setGeometry(10, 10, 300, 300);
    notice(u"two"_s);
    QCOMPARE(bubble()->geometry(), corner);
}

void tst_tray::bubbleIsReadOnlyAndScrolls()
{
    start("SHOW_TIME = -1\n");
    QString longText;
    for (int i = 0; i < 50; ++i)
        longText += u"<font color=#00aa00><b>Player%1</b> on Arena<br/></font>"_s.arg(i);
    notice(longText);
    QVERIFY(bubble()->isReadOnly());
    QCOMPARE(bubble()->size(), QSize(iBubble::width, iBubble::height));
    QVERIFY(bubble()->verticalScrollBar()->maximum() > 0);
    QTest::keyClicks(bubble()->viewport(), u"typed"_s);
    QVERIFY(!bubble()->toPlainText().contains(u"typed"_s));
}

void tst_tray::noticeIsHandledWithinTheEmission()
{
    start("SHOW_TIME = -1\n");
    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = 1;
    options.folder = m_dir->path();
    lookOut watcher(nullptr, options);
    QObject::connect(&watcher, &lookOut::newInfo, m_tray.get(), iTray::infoSlot());
    QObject::connect(&watcher, &lookOut::newImportantInfo, m_tray.get(), iTray::importantInfoSlot());

    emit watcher.newImportantInfo(u"Sam arrived"_s);
    QVERIFY(bubble()->isVisible());
    QCOMPARE(bubble()->toPlainText(), u"Sam arrived"_s);
    emit watcher.newInfo(u"Sam left"_s);
    QCOMPARE(bubble()->toPlainText(), u"Sam left"_s);
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
    notice(u"still here"_s);
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

    notice(u"quiet"_s);
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
