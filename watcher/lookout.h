#pragma once

#include "report.h"
#include "watchlist.h"

#include <QFile>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

// Where the lobby is and how often to ask it. The defaults are the program's
// own; tests shorten the intervals and point the watcher at a server of their
// own.
struct WatcherOptions
{
    QHostAddress lobbyAddress = defaultLobbyAddress();
    quint16 lobbyPort = 22000;
    int nextPollDelay = 60000; // ms from the end of a poll to the next one
    int fallbackInterval = 150000; // ms without a finished poll before trying again
    QString folder; // holds list.cfg; empty means the executable's folder

    static QHostAddress defaultLobbyAddress();
};

// The lobby watcher: asks the lobby for its report about once a minute, picks
// out the players of the watch list and tells, after each report, who came,
// who stayed and who left.
class lookOut : public QTcpSocket
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(lookOut)

public:
    // Neither the socket nor its timer takes `parent`: whoever creates the
    // watcher owns it.
    explicit lookOut(QObject *parent = nullptr, const WatcherOptions &options = WatcherOptions());
    ~lookOut() override;

    // The server of the last server line the lobby sent, in this poll or an
    // earlier one: its players' entries name it.
    const QString &currentServer() const { return m_poll.server(); }

signals:
    void newInfo(const QString &text);
    void newImportantInfo(const QString &text);

public slots:
    void parseConfig();
    void parseConfigLine(const QString &line);
    void connectToLobby();
    void analizeInfo();
    void processPackage();
    bool isIntresting(const QString &name);

private:
    void closeWithoutReport();
    void scheduleNextPoll();

    watchlist::Matcher watchList; // the entries of list.cfg, which the reader asks too
    QStringList onlineNow;
    QStringList onlineBefore;
    QTimer pollTimer;
    QFile listFile;

    WatcherOptions m_options;
    report::PollReader m_poll{watchList};
    bool m_abandoning = false; // the connection being closed carries no report
};
