#include "settings.h"
#include "support.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

#include <optional>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MB = 1024 * 1024;

// Reading a file, however large or odd, holds no more than this.
constexpr qint64 memoryBound = 50 * MB;

// `head`, `zeros` bytes of a hole, then `tail`, {{A}} and {{B}} standing for a line; or no file.
struct Shape
{
    QByteArray head;
    qint64 zeros = 0;
    QByteArray tail;
    enum Kind { File, Folder, LinkToFifo, LinkToZero } kind = File;
};

bool create(const QString &path, Shape s, const QByteArray &a = {}, const QByteArray &b = {})
{
    switch (s.kind) {
    case Shape::Folder: return QDir().mkdir(path);
    // Nobody writes to the pipe: opening it to read waits forever.
    case Shape::LinkToFifo:
        return ::mkfifo(QFile::encodeName(path + u".pipe"_s).constData(), 0600) == 0
            && QFile::link(path + u".pipe"_s, path);
    // Endless; never saved through: a save as root once replaced the device.
    case Shape::LinkToZero: return QFile::link(u"/dev/zero"_s, path);
    case Shape::File: break;
    }
    for (QByteArray *part : {&s.head, &s.tail})
        part->replace("{{A}}", a).replace("{{B}}", b);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(s.head) == s.head.size()
        && file.resize(s.head.size() + s.zeros) && file.seek(s.head.size() + s.zeros)
        && file.write(s.tail) == s.tail.size();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A small tmpfs of the test's own, unmounted when done.
struct Mount
{
    explicit Mount(const QString &folder)
        : path(QFile::encodeName(folder))
        , mounted(::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64k") == 0)
    {
    }
    ~Mount()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    Q_DISABLE_COPY_MOVE(Mount)
    const QByteArray path;
    const bool mounted;
};

// Saves as a user to whom the permission bits apply: nobody when the test
// runs as root, keeping root's saved ids to take back; empty when it cannot.
std::optional<bool> saveAsOrdinaryUser(const QString &path, const settings::Values &values)
{
    const bool root = ::geteuid() == 0;
    if (root && (::setresgid(65534, 65534, 0) != 0 || ::setresuid(65534, 65534, 0) != 0))
        return std::nullopt;
    const bool saved = settings::save(path, values);
    if (root && (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0))
        qFatal("cannot take back root's ids");
    return saved;
}

} // namespace

Q_DECLARE_METATYPE(Shape)

// The program's two files when a save cannot be written, or they are huge,
// binary, endless or no files.
class tst_files : public QObject
{
    Q_OBJECT

private slots:
    void failedSaveKeepsTheOldFile_data();
    void failedSaveKeepsTheOldFile();
    void damagedFiles_data();
    void damagedFiles();
};

void tst_files::failedSaveKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<bool>("saved");

    QTest::newRow("folder and file writable: replaced whole") << QString() << true;
    QTest::newRow("only the file writable (a shared install): written in place")
        << u"read-only folder"_s << true;
    QTest::newRow("a read-only file in a writable folder: left alone") << u"read-only file"_s << false;
    QTest::newRow("a full disk") << u"full disk"_s << false;
}

void tst_files::failedSaveKeepsTheOldFile()
{
    QFETCH(QString, trouble);
    QFETCH(bool, saved);

    QTemporaryDir dir;
    const QString folder = dir.filePath(u"install"_s);
    QVERIFY(QDir().mkdir(folder));
    std::optional<Mount> mount;
    if (trouble == u"full disk") {
        mount.emplace(folder);
        if (!mount->mounted) {
            QTest::qSkip("cannot mount a small tmpfs (needs root or CAP_SYS_ADMIN)", __FILE__, __LINE__);
            return;
        }
    }
    // Longer than the saved text, so a save in place must cut what is left.
    const QByteArray previous = "# mine, keep it: the sound stays off, whatever comes after this line\n"
                                "PLAY_SOUND = FALSE\nAUTO_SHOW = FALSE\nSHOW_TIME = 1234\n";
    const QString config = folder + u"/config.cfg"_s;
    QVERIFY(create(config, {previous, 0, {}}));
    settings::Values values = settings::load(config);
    values.playSound = true;
    const auto mode = [](const QString &path, mode_t bits) {
        return ::chmod(QFile::encodeName(path).constData(), bits) == 0;
    };
    QVERIFY(mode(dir.path(), 0755) && mode(folder, trouble == u"read-only folder" ? 0555 : 0777)
        && mode(config, trouble == u"read-only file" ? 0444 : 0666));
    QFile filler(folder + u"/filler"_s);
    if (mount && filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        while (filler.write(QByteArray(4096, 'f')) > 0) {}
    }

    const std::optional<bool> result = saveAsOrdinaryUser(config, values);
    mode(folder, 0755); // so that the folder can be removed
    if (!result) {
        QTest::qSkip("cannot save as the user nobody", __FILE__, __LINE__);
        return;
    }
    QCOMPARE(*result, saved);
    QCOMPARE(contents(config), saved ? settings::fileText(values) : previous);
    // No half-written file left beside it.
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    left.removeAll(u"filler"_s);
    QCOMPARE(left, QStringList{u"config.cfg"_s});
}

void tst_files::damagedFiles_data()
{
    // {{A}} and {{B}} are "LIST += Sam" and "LIST += Kira" in list.cfg,
    // "PLAY_SOUND = FALSE" and "AUTO_SHOW = FALSE" in config.cfg.
    QTest::addColumn<Shape>("shape");
    QTest::addColumn<bool>("a");
    QTest::addColumn<bool>("b");

    QTest::newRow("a 100 MB line, then a line") << Shape{"{{B}}", 100 * MB, "\n{{A}}\n"} << true << false;
    QTest::newRow("a line, then 200 MB without a line feed")
        << Shape{"{{A}}\n{{B}}", 200 * MB, {}} << true << false;
    QByteArray noise(2 * MB, Qt::Uninitialized);
    QRandomGenerator(2).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QTest::newRow("binary noise around a line")
        << Shape{noise.first(MB) + "\n{{B}}\n" + noise.sliced(MB), 0, {}} << false << true;
    // Never read, and left as they are by the save.
    QTest::newRow("a folder instead of a file") << Shape{{}, 0, {}, Shape::Folder} << false << false;
    QTest::newRow("a link to a named pipe") << Shape{{}, 0, {}, Shape::LinkToFifo} << false << false;
    QTest::newRow("a link to /dev/zero") << Shape{{}, 0, {}, Shape::LinkToZero} << false << false;
}

void tst_files::damagedFiles()
{
    QFETCH(Shape, shape);
    QFETCH(bool, a);
    QFETCH(bool, b);

    WatcherSetup setup{QByteArray()};
    const QString config = setup.folder.filePath(u"config.cfg"_s);
    QVERIFY(create(setup.folder.filePath(u"list.cfg"_s), shape, "LIST += Sam", "LIST += Kira"));
    QVERIFY(create(config, shape, "PLAY_SOUND = FALSE", "AUTO_SHOW = FALSE"));

    PeakMemory memory;
    const bool judged = memory.start();
    lookOut watcher(nullptr, setup.options);
    const settings::Values values = settings::load(config);
    if (judged)
        QVERIFY2(
            memory.growth() < memoryBound, qPrintable(u"reading took %1 MB"_s.arg(memory.growth() / MB)));

    QCOMPARE(watcher.isIntresting(u"Sam"_s), a);
    QCOMPARE(watcher.isIntresting(u"Kira"_s), b);
    QCOMPARE(values.playSound, !a);
    QCOMPARE(values.autoShow, !b);

    if (shape.kind == Shape::LinkToZero)
        return;
    QCOMPARE(settings::save(config, values), shape.kind == Shape::File);
    if (shape.kind == Shape::File) {
        QCOMPARE(contents(config), settings::fileText(values));
    } else {
        // No settings file in its place, and a link still a link.
        QVERIFY(!QFileInfo(config).isFile());
        QCOMPARE(QFileInfo(config).isSymLink(), shape.kind == Shape::LinkToFifo);
    }
}

QTEST_GUILESS_MAIN(tst_files)
#include "tst_files.moc"
