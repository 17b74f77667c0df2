#include "autorun.h"

#ifdef Q_OS_WIN
#include <QDir>
#include <QSettings>
#else
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#endif

namespace autorun {

using namespace Qt::StringLiterals;

#ifdef Q_OS_WIN

namespace {

const QString runKey = u"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"_s;
const QString valueName = u"lookout"_s;

} // namespace

bool isRegistered()
{
    return QSettings(runKey, QSettings::NativeFormat).contains(valueName);
}

bool registerProgram(const QString &executable)
{
    QSettings run(runKey, QSettings::NativeFormat);
    // Quoted, so that a path with blanks still starts the program.
    run.setValue(valueName, QString(u'"' + QString(executable).replace(u'/', u'\\') + u'"'));
    run.sync();
    return run.status() == QSettings::NoError;
}

void unregister()
{
    QSettings(runKey, QSettings::NativeFormat).remove(valueName);
}

#else

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/autostart/lookout.desktop"_s;
}

QString execValue(const QString &executable)
{
    QString quoted = u"\""_s;
    for (QChar c : executable) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    quoted.replace(u'%', u"%%"_s);

    QString value;
    for (QChar c : quoted) {
        switch (c.unicode()) {
        case u'\\': value += u"\\\\"; break;
        case u'\n': value += u"\\n"; break;
        case u'\t': value += u"\\t"; break;
        case u'\r': value += u"\\r"; break;
        default: value += c;
        }
    }
    return value;
}

QByteArray desktopEntry(const QString &executable)
{
    const QString icon = QFileInfo(executable).absolutePath() + u"/icons/lookout.png"_s;
    QString text = u"[Desktop Entry]\n"
                   u"Type=Application\n"
                   u"Name=Lookout\n"
                   u"Comment=Watches the game lobby for the players on your list\n"_s;
    text += u"Exec="_s + execValue(executable) + u'\n';
    // Icon is a plain string: only the string escapes apply.
    text += u"Icon="_s + QString(icon).replace(u'\\', u"\\\\"_s).replace(u'\n', u"\\n"_s) + u'\n';
    text += u"Terminal=false\n"
            u"X-GNOME-Autostart-enabled=true\n"_s;
    return text.toUtf8();
}

bool isRegistered()
{
    return QFileInfo::exists(entryPath());
}

bool registerProgram(const QString &executable)
{
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(desktopEntry(executable));
    return file.commit();
}

void unregister()
{
    QFile::remove(entryPath());
}

#endif

} // namespace autorun
