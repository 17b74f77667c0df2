#pragma once

#include <QByteArray>
#include <QString>

// Starting with the user's session. On Windows the program is a value named
// "lookout" under the per-user Run key; elsewhere it is the freedesktop
// autostart entry that the session starts at log-on. Either way, the entry's
// presence is the whole state: nothing else remembers it.
namespace autorun {

bool isRegistered();
// Registers `executable` (a full path), replacing any earlier entry. False when it could not be written.
bool registerProgram(const QString &executable);
void unregister();

#ifndef Q_OS_WIN
// The autostart folder of the user's configuration (QStandardPaths:
// $XDG_CONFIG_HOME, else ~/.config) and lookout.desktop in it.
QString entryPath();

// The Exec value that starts `executable` with no arguments: the path in
// double quotes, escaped for the quotes, for field codes and for the desktop
// file's string syntax, in that order.
QString execValue(const QString &executable);

QByteArray desktopEntry(const QString &executable);
#endif

} // namespace autorun
