#pragma once

#include "settings.h"

#include <QDateTime>
#include <QFile>
#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;
class NoticeSound;
class iBubble;

// The program's face: the icon in the notification area with its menu, the
// user's settings, the notice sounds and the bubble.
class iTray : public QSystemTrayIcon
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(iTray)

public:
    // `folder` holds config.cfg, icons/ and wav/; empty means the
    // executable's folder. The icon does not take `parent`: its owner
    // destroys it.
    explicit iTray(QObject *parent = nullptr, const QString &folder = QString());
    ~iTray() override;

    // The two notice inputs, for the code that joins a source of notices to
    // the tray (main, and tests in its place). The slots stay private: only a
    // signal calls them, so they are handed out to connect() and nothing else.
    using NoticeSlot = void (iTray::*)(const QString &);
    static constexpr NoticeSlot infoSlot() { return &iTray::newInfo; }
    static constexpr NoticeSlot importantInfoSlot() { return &iTray::newImportantInfo; }

public slots:
    void addToAutorun();
    void removeFromAutorun();
    bool ifInAutorun();

private slots:
    void parseClick(QSystemTrayIcon::ActivationReason reason);
    void parseConfig();
    void parseConfigLine(const QString &line);
    void saveConfig();
    void createMenu();
    void about();
    void triggerAutorun(bool on);
    void triggerSound(bool on);
    void triggerShow(bool on);
    void quit();
    void newImportantInfo(const QString &text);
    void newInfo(const QString &text);
    void setShowFlag(bool shown);
    void setNormalIcon(bool normal);

private:
    QString file(const char *name) const;
    void setSettings(const settings::Values &values);
    // An icon as it is on disk now; loaded again only when its file changed.
    struct LoadedIcon
    {
        QIcon icon;
        QDateTime modified;
        qint64 size = -1;
    };
    QIcon trayIcon(LoadedIcon &loaded, const char *name) const;
    void notice(NoticeSound &sound, const QString &text);

    std::unique_ptr<QMenu> trayMenu;
    QAction *quitAction = nullptr;
    QAction *aboutAction = nullptr;
    QAction *soundAction = nullptr;
    QAction *autoShowAction = nullptr;
    QAction *autorunAction = nullptr;
    std::unique_ptr<iBubble> bubble;
    bool showFlag = false;
    bool playSound = true;
    bool autoShow = true;
    QString lastMessage;
    QFile configFile;
    std::unique_ptr<NoticeSound> infoSound;
    std::unique_ptr<NoticeSound> importantSound;
    int showTime = 5000;
    LoadedIcon normalIcon;
    LoadedIcon noticeIcon;

    QString m_folder;
};
