#include "autorun.h"
#include "itray.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <iostream>
#include <sstream>

using namespace Qt::StringLiterals;

namespace {

// Reads back the program of an Exec value as a desktop session would: the
// string escapes first, then the quoting of the first argument, then "%%".
QString programOf(QString exec)
{
    QString unescaped;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (exec[i] == u'\\' && i + 1 < exec.size()) {
            const QChar next = exec[++i];
            unescaped += next == u's' ? u' '
                : next == u'n'        ? u'\n'
                : next == u't'        ? u'\t'
                : next == u'r'        ? u'\r'
                                      : next;
        } else {
            unescaped += exec[i];
        }
    }
    if (!unescaped.startsWith(u'"') || !unescaped.endsWith(u'"'))
        return u"(not one quoted argument)"_s;
    QString program;
    for (qsizetype i = 1; i < unescaped.size() - 1; ++i) {
        QChar c = unescaped[i];
        if (c == u'"')
            return u"(quote left unescaped)"_s;
        if (c == u'\\') {
            c = unescaped[++i];
            if (c != u'"' && c != u'`' && c != u'$' && c != u'\\')
                return u"(needless escape)"_s;
        } else if (c == u'`' || c == u'$') {
            return u"(reserved character left unescaped)"_s;
        }
        program += c;
    }
    if (program.count(u'%') % 2 != 0)
        return u"(lone percent sign)"_s;
    return program.replace(u"%%"_s, u"%"_s);
}

QMap<QString, QString> keysOf(const QByteArray &entry)
{
    QMap<QString, QString> keys;
    for (const QByteArray &line : entry.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            keys.insert(QString::fromUtf8(line.first(eq)), QString::fromUtf8(line.sliced(eq + 1)));
    }
    return keys;
}

QAction *actionNamed(const iTray &tray, const QString &text)
{
    for (QAction *action : tray.contextMenu()->actions())
        if (action->text() == text)
            return action;
    return nullptr;
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
    void entryIsAValidDesktopEntry();
    void menuTogglesTheEntry_data();
    void menuTogglesTheEntry();
    void configHomeDefaultsToDotConfig();

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
    QTest::newRow("plain") << u"/opt/lookout/lookout"_s;
    QTest::newRow("spaces") << u"/home/sam/My Games/Look Out/lookout"_s;
    QTest::newRow("double quotes") << u"/home/sam/\"best\"/lookout"_s;
    QTest::newRow("backslashes") << u"/home/sam/back\\slash\\\\/lookout"_s;
    QTest::newRow("dollar and backtick") << u"/home/sam/$HOME/`id`/lookout"_s;
    QTest::newRow("percent signs") << u"/home/sam/100%/%f %u %%/lookout"_s;
    QTest::newRow("a single quote and non-ASCII") << u"/home/zoë/it's/Крепость/lookout"_s;
    QTest::newRow("tab and line feed") << u"/tmp/a\tb\nc/lookout"_s;
    QTest::newRow("everything at once") << u"/x/ \"$`\\%'\t/lookout"_s;
}

void tst_autorun::execLineStartsTheSameProgram()
{
    QFETCH(QString, path);

    QVERIFY(autorun::registerProgram(path));
    QFile file(autorun::entryPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray entry = file.readAll();
    QCOMPARE(entry.count("\nExec="), 1); // a path with a line feed must not break the entry's lines
    QCOMPARE(programOf(keysOf(entry).value(u"Exec"_s)), path);
}

void tst_autorun::entryIsAValidDesktopEntry()
{
    QVERIFY(autorun::registerProgram(u"/opt/lookout/lookout"_s));
    QCOMPARE(autorun::entryPath(), m_config.filePath(u"autostart/lookout.desktop"_s));
    QFile file(autorun::entryPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray entry = file.readAll();
    QVERIFY(entry.startsWith("[Desktop Entry]\n"));
    const auto keys = keysOf(entry);
    QCOMPARE(keys.value(u"Type"_s), u"Application"_s);
    QCOMPARE(keys.value(u"Name"_s), u"Lookout"_s);
    QCOMPARE(keys.value(u"Exec"_s), u"\"/opt/lookout/lookout\""_s);
    QVERIFY(autorun::isRegistered());
    autorun::unregister();
    QVERIFY(!autorun::isRegistered());
    autorun::unregister(); // nothing to remove: nothing happens
    QVERIFY(!autorun::isRegistered());
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
    if (!before.isEmpty())
        QVERIFY(autorun::registerProgram(before));
    const auto program = [] {
        QFile file(autorun::entryPath());
        return file.open(QIODevice::ReadOnly) ? programOf(keysOf(file.readAll()).value(u"Exec"_s))
                                              : QString();
    };
    std::stringstream out;
    std::streambuf *saved = std::cout.rdbuf(out.rdbuf());
    {
        iTray tray(nullptr, m_config.path());
        QAction *autorun = actionNamed(tray, u"Autorun"_s);
        QVERIFY(autorun && autorun->isCheckable());
        QCOMPARE(autorun->isChecked(), !before.isEmpty());
        QCOMPARE(out.str(), std::string()); // start-up only reads

        autorun->trigger();
        QCOMPARE(tray.ifInAutorun(), before.isEmpty());
        if (!before.isEmpty())
            autorun->trigger();
        QCOMPARE(program(), QCoreApplication::applicationFilePath());
        autorun->trigger();
        QVERIFY(!autorun::isRegistered());
    }
    std::cout.rdbuf(saved);
    QCOMPARE(out.str(), before.isEmpty() ? "DETONATEDETONATE" : "DETONATEDETONATEDETONATE");
}

void tst_autorun::configHomeDefaultsToDotConfig()
{
    qputenv("XDG_CONFIG_HOME", "");
    QCOMPARE(autorun::entryPath(), QDir::homePath() + u"/.config/autostart/lookout.desktop"_s);
}

QTEST_MAIN(tst_autorun)
#include "tst_autorun.moc"
