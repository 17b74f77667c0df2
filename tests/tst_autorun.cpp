#include "autorun.h"
#include "itray.h"
#include "support.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray entry()
{
    QFile file(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/autostart/lookout.desktop"_s);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The log-on start-up entry: where the session looks, valid for any path.
class tst_autorun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void execLineStartsTheSameProgram_data();
    void execLineStartsTheSameProgram();
    void menuTogglesTheEntry_data();
    void menuTogglesTheEntry();

private:
    QTemporaryDir m_config;
};

void tst_autorun::init()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QFile::remove(m_config.filePath(u"autostart/lookout.desktop"_s));
}

// Quoted for the session's command line, "%" doubled, then the string escapes.
void tst_autorun::execLineStartsTheSameProgram_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("quoting: blanks, double quotes, backslashes, $ and `")
        << u"/home/sam/My Games/\"best\"/back\\slash\\\\/$HOME/`id`/lookout"_s
        << uR"(Exec="/home/sam/My Games/\\"best\\"/back\\\\slash\\\\\\\\/\\$HOME/\\`id\\`/lookout")"_s;
    QTest::newRow("field codes: percent signs")
        << u"/home/sam/100%/%f %u %%/lookout"_s << uR"(Exec="/home/sam/100%%/%%f %%u %%%%/lookout")"_s;
    QTest::newRow("string escapes: tab and line feed; a single quote and non-ASCII as they are")
        << u"/home/zoë/it's/Крепость/a\tb\nc/lookout"_s
        << uR"(Exec="/home/zoë/it's/Крепость/a\tb\nc/lookout")"_s;
}

void tst_autorun::execLineStartsTheSameProgram()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QVERIFY(autorun::registerProgram(path));
    QVERIFY2(entry().contains('\n' + exec.toUtf8() + '\n'), entry().constData());
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
    const QString program = QCoreApplication::applicationFilePath();
    QCOMPARE(entry(),
        "[Desktop Entry]\nType=Application\nName=Lookout\n"
        "Comment=Watches the game lobby for the players on your list\nExec=\""
            + program.toUtf8() + "\"\nIcon=" + QFileInfo(program).path().toUtf8()
            + "/icons/lookout.png\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    autorun->trigger();
    QVERIFY(entry().isNull() && !autorun::isRegistered());
    QCOMPARE(out.text(), before.isEmpty() ? "DETONATEDETONATE" : "DETONATEDETONATEDETONATE");
    // Most sessions leave XDG_CONFIG_HOME unset.
    qputenv("XDG_CONFIG_HOME", "");
    QCOMPARE(autorun::entryPath(), QDir::homePath() + u"/.config/autostart/lookout.desktop"_s);
}

QTEST_MAIN(tst_autorun)
#include "tst_autorun.moc"
