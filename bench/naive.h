#pragma once

#include "presence.h"

#include <QByteArrayView>
#include <QRegExp>
#include <QString>
#include <QStringList>

// The program as it first was: every line decoded, then tried against the
// QRegExp patterns; every name tried against every entry of the watch list;
// the comparison as two nested loops. Only here as the yardstick the
// benchmarks measure the watcher against.
namespace naive {

class Reader
{
public:
    Reader();
    // Appends "<player> <server>" for each watched player of the report.
    void read(QByteArrayView report, const QStringList &watchList, QStringList &entries);

private:
    bool isIntresting(const QString &name, const QStringList &watchList);

    QRegExp m_server;
    QRegExp m_clients;
    QRegExp m_player;
    QRegExp m_tagEntry;
    QRegExp m_tagged;
    QString m_currentServer;
};

presence::Notice compare(const QStringList &now, const QStringList &before);

} // namespace naive
