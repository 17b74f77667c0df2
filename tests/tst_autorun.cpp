#include "autorun.h"
#include "itray.h"
#include "support.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray entry()
{
    QFile file(autorun::entryPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The program an entry's Exec line starts, read back as a desktop session
// would: the string escapes first, then the quoting of the first argument,
// then "%%".
QString programOf(const QByteArray &entry)
{
    QString exec, unescaped, program;
    for (const QByteArray &line : entry.split('\n'))
        exec = line.startsWith("Exec=") ? QString::fromUtf8(line.sliced(5)) : exec;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (exec[i] < u' ')
            return u"(control character left unescaped)"_s;
        const qsizetype escape = exec[i] == u'\\' && i + 1 < exec.size() ? u"sntr"_s.indexOf(exec[++i]) : -1;
        unescaped += escape >= 0 ? u" \n\t\r"_s[escape] : exec[i];
    }
    if (!unescaped.startsWith(u'"') || !unescaped.endsWith(u'"'))
        return u"(not one quoted argument)"_s;
    for (qsizetype i = 1; i < unescaped.size() - 1; ++i) {
        QChar c = unescaped[i];
        if (c == u'"' || c == u'`' || c == u'$')
            return u"(reserved character left unescaped)"_s;
        if (c == u'\\' && !u"\"`$\\"_s.contains(c = unescaped[++i]))
            return u"(needless escape)"_s;
        program += c;
    }
    if (program.count(u'%') % 2 != 0)
        return u"(lone percent sign)"_s;
    return program.replace(u"%%"_s, u"%"_s);
}

} // namespace

// The log-on start-up entry: written where the session looks for it, and
// valid for any path the program may live at.
class tst_autorun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void execLineStartsTheSameProgram_data();
    void execLineStartsTheSameProgram();
    void entryIsWrittenAndRemovedWhereTheSessionLooks();
    void menuTogglesTheEntry_data();
    void menuTogglesTheEntry();

private:
    QTemporaryDir m_config;
};

void tst_autorun::init()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QFile::remove(autorun::entryPath());
}

void tst_autorun::execLineStartsTheSameProgram_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("quoting: blanks, double quotes, backslashes, $ and `")
        << u"/home/sam/My Games/\"best\"/back\\slash\\\\/$HOME/`id`/lookout"_s;
    QTest::newRow("field codes: percent signs") << u"/home/sam/100%/%f %u %%/lookout"_s;
    QTest::newRow("string escapes: tab and line feed; a single quote and non-ASCII as they are")
        << u"/home/zoë/it's/Крепость/a\tb\nc/lookout"_s;
}

void tst_autorun::execLineStartsTheSameProgram()
{
    QFETCH(QString, path);
    QVERIFY(autorun::registerProgram(path));
    QCOMPARE(programOf(entry()), path);
}

void tst_autorun::entryIsWrittenAndRemovedWhereTheSessionLooks()
{
    QVERIFY(autorun::registerProgram(u"/opt/lookout/lookout"_s));
    QCOMPARE(autorun::entryPath(), m_config.filePath(u"autostart/lookout.desktop"_s));
    QCOMPARE(entry(),
        "[Desktop Entry]\nType=Application\nName=Lookout\n"
        "Comment=Watches the game lobby for the players on your list\nExec=\"/opt/lookout/lookout\"\n"
        "Icon=/opt/lookout/icons/lookout.png\nTerminal=false\nX-GNOME-Autostart-enabled=true\n"_ba);
    QVERIFY(autorun::isRegistered());
    autorun::unregister();
    QVERIFY(!QFile::exists(m_config.filePath(u"autostart/lookout.desktop"_s)));
    // Most sessions leave XDG_CONFIG_HOME unset.
    qputenv("XDG_CONFIG_HOME", "");
    QCOMPARE(autorun::entryPath(), QDir::homePath() + u"/.config/autostart/lookout.desktop"_s);
}

void tst_autorun::menuTogglesTheEntry_data()
{
    QTest::addColumn<QString>("before"); // the program of an entry there at start; empty: none
    QTest::newRow("no entry: unchecked; checking writes one, unchecking removes it") << QString();
    QTest::newRow("another copy's entry: checked; unchecking removes it, checking writes this copy's")
        << u"/elsewhere/lookout"_s;
}

void tst_autorun::menuTogglesTheEntry()
{
    QFETCH(QString, before);
    QVERIFY(before.isEmpty() || autorun::registerProgram(before));
    CapturedOutput out;
    iTray tray(nullptr, m_config.path());
    QAction *autorun = tray.contextMenu()->actions().value(3);
    QVERIFY(autorun && autorun->text() == u"Autorun");
    QCOMPARE(autorun->isChecked(), !before.isEmpty());
    QCOMPARE(out.text(), QByteArray()); // start-up only reads

    autorun->trigger();
    QCOMPARE(autorun::isRegistered(), before.isEmpty());
    if (!before.isEmpty())
        autorun->trigger();
    QCOMPARE(programOf(entry()), QCoreApplication::applicationFilePath());
    autorun->trigger();
    QVERIFY(!autorun::isRegistered());
    QCOMPARE(out.text(), before.isEmpty() ? "DETONATEDETONATE" : "DETONATEDETONATEDETONATE");
}

QTEST_MAIN(tst_autorun)
#include "tst_autorun.moc"
