#include "settings.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// config.cfg as the tray reads it at start and writes it at "Quit".
class tst_settings : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void savedFileHasSevenLines();

private:
    // What the tray, started with `config` in its folder, saves again.
    static QByteArray resaved(const QByteArray &config);
};

QByteArray tst_settings::resaved(const QByteArray &config)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"config.cfg"_s);
    if (!config.isNull()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
            qFatal("cannot write config.cfg");
    }
    const settings::Values values = settings::load(path);
    if (!settings::save(path, values))
        return "(not saved)";
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "(no file)";
    return file.readAll();
}

void tst_settings::reading_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("playSound");
    QTest::addColumn<bool>("autoShow");
    QTest::addColumn<int>("showTime");

    const auto row = [](const char *name, const QByteArray &config, bool sound, bool show, int time) {
        QTest::newRow(name) << config << sound << show << time;
    };
    row("no file: the defaults", QByteArray(), true, true, 5000);
    row("empty file: the defaults", ""_ba, true, true, 5000);
    row("sound off, no blanks around the equals sign", "PLAY_SOUND=FALSE\n", false, true, 5000);
    row("auto show off, blanks and tabs around", "AUTO_SHOW \t =\t  FALSE \t \n", true, false, 5000);
    row("TRUE never switches on", "PLAY_SOUND = FALSE\nPLAY_SOUND = TRUE\n", false, true, 5000);
    row("FALSE on any of a key's lines wins", "AUTO_SHOW = TRUE\nAUTO_SHOW = FALSE\nAUTO_SHOW = TRUE\n", true,
        false, 5000);
    row("key in lower case", "play_sound = FALSE\n", true, true, 5000);
    row("a value other than FALSE", "PLAY_SOUND = false\nPLAY_SOUND = 0\n", true, true, 5000);
    row("a blank before the key", " PLAY_SOUND = FALSE\n", true, true, 5000);
    row("anything after the value", "PLAY_SOUND = FALSE #off\nAUTO_SHOW = FALSE please\n", true, true, 5000);
    row("a commented line", "#PLAY_SOUND = FALSE\n", true, true, 5000);
    row("last line without a line feed", "PLAY_SOUND = FALSE\nAUTO_SHOW = FALSE", false, true, 5000);
    row("CR LF line ends", "#START\r\n\r\nPLAY_SOUND = FALSE\r\nAUTO_SHOW = FALSE\r\nSHOW_TIME = 2500\r\n",
        false, false, 2500);
    row("a lone CR before the value's end", "PLAY_SOUND = FALSE\r\r\n", false, true, 5000);
    row("a NUL cuts the line", "PLAY_SOUND = FALSE\0\n"_ba, true, true, 5000);
    row("SHOW_TIME -1", "SHOW_TIME = -1\n", true, true, -1);
    row("SHOW_TIME 0", "SHOW_TIME = 0\n", true, true, 0);
    row("SHOW_TIME not a whole number reads as 0", "SHOW_TIME = 2.5\nSHOW_TIME = 10s\n", true, true, 0);
    row("SHOW_TIME past 32 bits reads as 0", "SHOW_TIME = 2147483648\n", true, true, 0);
    row("SHOW_TIME at the 32-bit limit", "SHOW_TIME = -2147483648\n", true, true, -2147483647 - 1);
    row("SHOW_TIME: the last matching line wins", "SHOW_TIME = 100\nSHOW_TIME = 200\nSHOW_TIME = 2 00\n",
        true, true, 200);
    row("the file as saved",
        "#START OF CONFIG FILE\n\nPLAY_SOUND = FALSE\nAUTO_SHOW = FALSE\nSHOW_TIME = 7\n\n#FINISH OF CONFIG "
        "FILE",
        false, false, 7);
}

void tst_settings::reading()
{
    QFETCH(QByteArray, config);
    QFETCH(bool, playSound);
    QFETCH(bool, autoShow);
    QFETCH(int, showTime);

    QCOMPARE(resaved(config), settings::fileText({playSound, autoShow, showTime}));
}

void tst_settings::savedFileHasSevenLines()
{
    QCOMPARE(resaved(QByteArray()),
        "#START OF CONFIG FILE\n"
        "\n"
        "PLAY_SOUND = TRUE\n"
        "AUTO_SHOW = TRUE\n"
        "SHOW_TIME = 5000\n"
        "\n"
        "#FINISH OF CONFIG FILE"_ba);
}

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
