#include "settings.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// config.cfg as the tray reads it at start. Saving it is checked by tst_tray
// (the text at "Quit") and tst_files (failed and in-place saves).
class tst_settings : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
};

void tst_settings::reading_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("read"); // the values read, as saved

    const auto row = [](const char *name, const QByteArray &config, bool sound, bool show, int time) {
        QTest::newRow(name) << config << settings::fileText({sound, show, time});
    };
    QByteArray windows = settings::fileText({false, false, 2500});
    windows.replace("\n", "\r\n");

    row("no file: the defaults", QByteArray(), true, true, 5000);
    row("FALSE, blanks and tabs or none around =", "PLAY_SOUND=FALSE\nAUTO_SHOW \t =\t  FALSE \t \n", false,
        false, 5000);
    row("FALSE on any line of its key wins over TRUE",
        "PLAY_SOUND = FALSE\nPLAY_SOUND = TRUE\nAUTO_SHOW = TRUE\nAUTO_SHOW = FALSE\nAUTO_SHOW = TRUE\n",
        false, false, 5000);
    row("not the key or the value: lower case, a blank before, a comment, other spellings, more after",
        "play_sound = FALSE\n PLAY_SOUND = FALSE\n#AUTO_SHOW = FALSE\nPLAY_SOUND = false\nPLAY_SOUND = 0\n"
        "PLAY_SOUND = FALSE #off\nAUTO_SHOW = FALSE please\n",
        true, true, 5000);
    row("last line without a line feed", "PLAY_SOUND = FALSE\nAUTO_SHOW = FALSE", false, true, 5000);
    row("the file as saved on Windows, CR LF", windows, false, false, 2500);
    row("SHOW_TIME at the 32-bit limit", "SHOW_TIME = -2147483648\n", true, true, -2147483647 - 1);
    row("SHOW_TIME past 32 bits reads as 0", "SHOW_TIME = 2147483648\n", true, true, 0);
    row("SHOW_TIME with a fraction reads as 0", "SHOW_TIME = 2.5\n", true, true, 0);
    row("SHOW_TIME with a unit reads as 0", "SHOW_TIME = 10s\n", true, true, 0);
    row("SHOW_TIME: the last line of one number wins", "SHOW_TIME = 1\nSHOW_TIME = 2\nSHOW_TIME = 3 0\n",
        true, true, 2);
}

void tst_settings::reading()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, read);

    QTemporaryDir dir;
    const QString path = dir.filePath(u"config.cfg"_s);
    QFile file(path);
    QVERIFY(config.isNull() || (file.open(QIODevice::WriteOnly) && file.write(config) == config.size()));
    file.close();
    QCOMPARE(settings::fileText(settings::load(path)), read);
}

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
