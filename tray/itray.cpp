#include "itray.h"

#include "autorun.h"
#include "freeheap.h"
#include "ibubble.h"
#include "settings.h"
#include "sound.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <iostream>

using namespace Qt::StringLiterals;

iTray::iTray(QObject *, const QString &folder)
    : QSystemTrayIcon(nullptr)
    , m_folder(folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder)
{
    configFile.setFileName(file("/config.cfg"));
    parseConfig();
    createMenu();
    setNormalIcon(true);
    setToolTip(u"Lookout 1.2"_s);
    connect(this, &QSystemTrayIcon::activated, this, &iTray::parseClick);

    bubble = std::make_unique<iBubble>(this);
    connect(bubble.get(), &iBubble::visibleState, this, &iTray::setShowFlag);
    connect(bubble.get(), &iBubble::visibleState, this, &iTray::setNormalIcon);

    infoSound = std::make_unique<NoticeSound>(file("/wav/info.wav"));
    importantSound = std::make_unique<NoticeSound>(file("/wav/importantinfo.wav"));

    show();
}

iTray::~iTray() = default;

QString iTray::file(const char *name) const
{
    return m_folder + QLatin1StringView(name);
}

// The icon is looked up on disk each time it is set, so a picture replaced
// while the program runs shows at the next change. An unchanged file gives
// the same icon back: a new one each time would leave another set of scaled
// copies in Qt's pixmap cache at every notice, up to its 10 MB.
QIcon iTray::trayIcon(LoadedIcon &loaded, const char *name) const
{
    const QFileInfo info(file(name));
    const QDateTime modified = info.lastModified();
    const qint64 size = info.exists() ? info.size() : -1;
    if (loaded.size != size || loaded.modified != modified || loaded.icon.isNull())
        loaded = LoadedIcon{QIcon(info.filePath()), modified, size};
    return loaded.icon;
}

void iTray::addToAutorun()
{
    autorun::registerProgram(QCoreApplication::applicationFilePath());
}

void iTray::removeFromAutorun()
{
    autorun::unregister();
}

bool iTray::ifInAutorun()
{
    return autorun::isRegistered();
}

void iTray::parseClick(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    if (showFlag)
        bubble->hideMessage();
    else
        bubble->showMessage(lastMessage); // stays until the next click
}

void iTray::parseConfig()
{
    setSettings(settings::load(configFile.fileName(), {playSound, autoShow, showTime}));
}

void iTray::parseConfigLine(const QString &line)
{
    settings::Values values{playSound, autoShow, showTime};
    settings::applyLine(values, line);
    setSettings(values);
}

void iTray::setSettings(const settings::Values &values)
{
    playSound = values.playSound;
    autoShow = values.autoShow;
    showTime = values.showTime;
}

void iTray::saveConfig()
{
    settings::save(configFile.fileName(), {playSound, autoShow, showTime});
}

void iTray::createMenu()
{
    quitAction = new QAction(QIcon(file("/icons/quit.png")), u"Quit"_s, this);
    connect(quitAction, &QAction::triggered, this, &iTray::quit);

    aboutAction = new QAction(QIcon(file("/icons/about.png")), u"About"_s, this);
    connect(aboutAction, &QAction::triggered, this, &iTray::about);

    // Each check mark is set before it is connected, so building the menu
    // changes nothing.
    soundAction = new QAction(u"Sound"_s, this);
    soundAction->setCheckable(true);
    soundAction->setChecked(playSound);
    connect(soundAction, &QAction::toggled, this, &iTray::triggerSound);

    autorunAction = new QAction(u"Autorun"_s, this);
    autorunAction->setCheckable(true);
    autorunAction->setChecked(ifInAutorun());
    connect(autorunAction, &QAction::toggled, this, &iTray::triggerAutorun);

    autoShowAction = new QAction(u"Auto show"_s, this);
    autoShowAction->setCheckable(true);
    autoShowAction->setChecked(autoShow);
    connect(autoShowAction, &QAction::toggled, this, &iTray::triggerShow);

    trayMenu = std::make_unique<QMenu>();
    trayMenu->addAction(aboutAction);
    trayMenu->addAction(autoShowAction);
    trayMenu->addAction(soundAction);
    trayMenu->addAction(autorunAction);
    trayMenu->addSeparator();
    trayMenu->addAction(quitAction);
    setContextMenu(trayMenu.get());
}

void iTray::about()
{
    QMessageBox::about(nullptr, u"Lookout 1.2"_s, u"Made by Tarnwick."_s);
}

void iTray::triggerAutorun(bool on)
{
    // Kept on purpose: the program has always written this trace when
    // "Autorun" is toggled, and whoever reads its output may rely on it.
    std::cout << "DETONATE";
    if (on)
        addToAutorun();
    else
        removeFromAutorun();
}

void iTray::triggerSound(bool on)
{
    playSound = on;
}

void iTray::triggerShow(bool on)
{
    autoShow = on;
}

void iTray::quit()
{
    saveConfig();
    hide();
    QCoreApplication::quit();
}

void iTray::newImportantInfo(const QString &text)
{
    notice(*importantSound, text);
}

void iTray::newInfo(const QString &text)
{
    notice(*infoSound, text);
}

void iTray::notice(NoticeSound &sound, const QString &text)
{
    returnFreeHeapSoon(this);
    setIcon(trayIcon(noticeIcon, "/icons/lookout_info.png"));
    lastMessage = text;
    if (playSound)
        sound.play();
    if (!autoShow)
        return;
    // A bubble that is already open keeps the timer it has; this one is
    // never cancelled, so it may close a bubble reopened in the meantime.
    // Precise, as a coarse timer may fire up to 5 % early.
    if (bubble->isHidden() && showTime >= 0)
        QTimer::singleShot(showTime, Qt::PreciseTimer, bubble.get(), &iBubble::hideMessage);
    bubble->showMessage(lastMessage);
}

void iTray::setShowFlag(bool shown)
{
    showFlag = shown;
}

void iTray::setNormalIcon(bool normal)
{
    if (normal)
        setIcon(trayIcon(normalIcon, "/icons/lookout.png"));
}
