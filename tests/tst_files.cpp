#include "lines.h"
#include "lookout.h"
#include "settings.h"
#include "support.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A file shape that goes wrong: `head`, then `zeros` bytes that take no disk
// (a hole), then `tail`; or a folder where the file should be.
struct Shape
{
    QByteArray head;
    qint64 zeros = 0;
    QByteArray tail;
    enum Kind { File, Folder, Fifo, LinkToFifo, LinkToZero } kind = File;

    static Shape bytes(const QByteArray &b) { return {b, 0, {}, File}; }
    static Shape hole(const QByteArray &head, qint64 zeros, const QByteArray &tail)
    {
        return {head, zeros, tail, File};
    }
    static Shape special(Kind kind) { return {{}, 0, {}, kind}; }

    bool create(const QString &path) const
    {
        switch (kind) {
        case Folder: return QDir().mkdir(path);
        case Fifo: // nobody ever writes to it: opening it for reading waits forever
            return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        case LinkToFifo:
            return Shape::special(Fifo).create(path + u".pipe"_s) && QFile::link(path + u".pipe"_s, path);
        // Endless; never for a file that is saved: a save through it as root
        // replaced the device.
        case LinkToZero: return QFile::link(u"/dev/zero"_s, path);
        case File: break;
        }
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(head) != head.size())
            return false;
        if (zeros > 0 && !(file.resize(head.size() + zeros) && file.seek(head.size() + zeros)))
            return false;
        return file.write(tail) == tail.size();
    }
};

QByteArray noise(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

constexpr qint64 MB = 1024 * 1024;

// Reading a file, however large or odd, holds no more than this.
constexpr qint64 memoryBound = 50 * MB;

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A small tmpfs of the test's own, unmounted when done.
class Mount
{
public:
    explicit Mount(const QString &path)
        : m_path(QFile::encodeName(path))
    {
        if (::mount("tmpfs", m_path.constData(), "tmpfs", 0, "size=64k") == 0)
            m_mounted = true;
        else
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~Mount()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    Mount(const Mount &) = delete;
    Mount &operator=(const Mount &) = delete;

    bool isMounted() const { return m_mounted; }
    QString error() const { return m_error; }

    bool makeReadOnly()
    {
        return ::mount(nullptr, m_path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

    // Writes a file until the file system says it is full.
    bool fill() const
    {
        const int fd = ::open((m_path + "/filler").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'f');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) {}
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
    QString m_error;
};

// Saves as an ordinary user would, to whom the permission bits apply: the
// test's own user, or nobody when the test runs as root (root writes anything).
// Each of `paths` is handed to nobody first. Empty when nobody cannot be had.
std::optional<bool> saveAsOrdinaryUser(
    const QString &path, const settings::Values &values, const QStringList &paths)
{
    if (::geteuid() != 0)
        return settings::save(path, values);
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return std::nullopt;
    for (const QString &p : paths) {
        if (::chown(QFile::encodeName(p).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0
            && ::setuid(nobody->pw_uid) == 0 && ::geteuid() != 0;
        ::_exit(!dropped ? 2 : settings::save(path, values) ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

} // namespace

Q_DECLARE_METATYPE(Shape)

// The program's two files when things go wrong around them: a save that
// cannot be written, and files that are huge, binary, endless lines or not
// files at all.
class tst_files : public QObject
{
    Q_OBJECT

private slots:
    void savedWhereTheUserMayWrite_data();
    void savedWhereTheUserMayWrite();
    void failedSaveKeepsTheOldFile_data();
    void failedSaveKeepsTheOldFile();
    void damagedFiles_data();
    void damagedFiles();
};

void tst_files::savedWhereTheUserMayWrite_data()
{
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<bool>("fileWritable");
    QTest::addColumn<bool>("saved");

    QTest::newRow("folder and file writable: replaced whole") << true << true << true;
    QTest::newRow("only the file writable (a shared install): written in place") << false << true << true;
    QTest::newRow("a read-only file in a writable folder: left alone") << true << false << false;
    QTest::newRow("nothing writable: left alone") << false << false << false;
}

void tst_files::savedWhereTheUserMayWrite()
{
    QFETCH(bool, folderWritable);
    QFETCH(bool, fileWritable);
    QFETCH(bool, saved);

    QTemporaryDir dir;
    const QString folder = dir.filePath(u"install"_s);
    QVERIFY(QDir().mkdir(folder));
    const QString config = folder + u"/config.cfg"_s;
    // Longer than the saved text, so a save in place must cut what is left.
    const QByteArray previous = "# mine, keep it: the sound stays off, whatever comes after this line\n"
                                "PLAY_SOUND = FALSE\nAUTO_SHOW = FALSE\nSHOW_TIME = 1234\n";
    QVERIFY(Shape::bytes(previous).create(config));
    const auto mode = [](const QString &path, mode_t bits) {
        return ::chmod(QFile::encodeName(path).constData(), bits) == 0;
    };
    QVERIFY(mode(dir.path(), 0755));
    QVERIFY(mode(folder, folderWritable ? 0755 : 0555));
    QVERIFY(mode(config, fileWritable ? 0644 : 0444));

    settings::Values values = settings::load(config);
    values.playSound = true;
    const std::optional<bool> result = saveAsOrdinaryUser(config, values, {folder, config});
    QVERIFY(mode(folder, 0755)); // so that the folder can be removed
    if (!result) {
        QTest::qSkip("cannot save as the user nobody", __FILE__, __LINE__);
        return;
    }

    QCOMPARE(*result, saved);
    QCOMPARE(contents(config), saved ? settings::fileText(values) : previous);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{u"config.cfg"_s});
}

void tst_files::failedSaveKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<bool>("saved");

    // The first row shows that the save does happen when nothing is in its way.
    QTest::newRow("room to spare: the file is replaced") << u"none"_s << true;
    QTest::newRow("a full disk") << u"full"_s << false;
    QTest::newRow("a read-only file system") << u"read-only"_s << false;
}

void tst_files::failedSaveKeepsTheOldFile()
{
    QFETCH(QString, trouble);
    QFETCH(bool, saved);

    QTemporaryDir dir;
    const QString folder = dir.filePath(u"mnt"_s);
    QVERIFY(QDir().mkdir(folder));
    Mount mount(folder);
    if (!mount.isMounted()) {
        // QSKIP with a message built at run time trips clang's -Wpedantic.
        const QByteArray why = "cannot mount a small tmpfs to fill (needs root or CAP_SYS_ADMIN): "
            + mount.error().toLocal8Bit();
        QTest::qSkip(why.constData(), __FILE__, __LINE__);
        return;
    }

    // Hand-edited, so any save would change it.
    const QByteArray previous = "# mine, keep it\nPLAY_SOUND = FALSE\nAUTO_SHOW = FALSE\nSHOW_TIME = 1234\n";
    const QString config = folder + u"/config.cfg"_s;
    QVERIFY(Shape::bytes(previous).create(config));

    settings::Values values = settings::load(config);
    QVERIFY(!values.playSound);
    values.playSound = true;
    if (trouble == u"full")
        QVERIFY(mount.fill());
    else if (trouble == u"read-only")
        QVERIFY(mount.makeReadOnly());
    QCOMPARE(settings::save(config, values), saved);

    if (saved) {
        QCOMPARE(contents(config),
            "#START OF CONFIG FILE\n\nPLAY_SOUND = TRUE\nAUTO_SHOW = FALSE\nSHOW_TIME = 1234\n\n"
            "#FINISH OF CONFIG FILE"_ba);
    } else {
        QCOMPARE(contents(config), previous);
    }
    // No half-written file left beside it.
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    left.removeAll(u"filler"_s);
    QCOMPARE(left, QStringList{u"config.cfg"_s});
}

void tst_files::damagedFiles_data()
{
    // In each shape {{A}} and {{B}} stand for a line of either file: "LIST +=
    // Sam" and "LIST += Kira" in list.cfg, "PLAY_SOUND = FALSE" and
    // "AUTO_SHOW = FALSE" in config.cfg.
    QTest::addColumn<Shape>("shape");
    QTest::addColumn<bool>("a");
    QTest::addColumn<bool>("b");
    QTest::addColumn<bool>("saved"); // whether config.cfg is saved over it

    QTest::newRow("200 MB of zero bytes") << Shape::hole({}, 200 * MB, {}) << false << false << true;
    QTest::newRow("a 100 MB line, then a line")
        << Shape::hole("{{B}}", 100 * MB, "\n{{A}}\n") << true << false << true;
    QTest::newRow("a line, then 200 MB without a line feed")
        << Shape::hole("{{A}}\n{{B}}", 200 * MB, {}) << true << false << true;
    QTest::newRow("binary noise") << Shape::bytes(noise(4 * MB, 1)) << false << false << true;
    QTest::newRow("binary noise around a line")
        << Shape::bytes(noise(MB, 2) + "\n{{B}}\n" + noise(MB, 3)) << false << true << true;
    QTest::newRow("no line ends") << Shape::bytes(QByteArray("{{A}}\r").repeated(100000)) << false << false
                                  << true;
    // Never read, and left as they are by the save.
    QTest::newRow("a folder instead of a file") << Shape::special(Shape::Folder) << false << false << false;
    QTest::newRow("a named pipe") << Shape::special(Shape::Fifo) << false << false << false;
    QTest::newRow("a link to a named pipe") << Shape::special(Shape::LinkToFifo) << false << false << false;
    QTest::newRow("a link to /dev/zero") << Shape::special(Shape::LinkToZero) << false << false << false;
}

void tst_files::damagedFiles()
{
    QFETCH(Shape, shape);
    QFETCH(bool, a);
    QFETCH(bool, b);
    QFETCH(bool, saved);

    QTemporaryDir dir;
    const auto create = [&](const QString &name, const QByteArray &lineA, const QByteArray &lineB) {
        Shape s = shape;
        for (QByteArray *part : {&s.head, &s.tail})
            part->replace("{{A}}", lineA).replace("{{B}}", lineB);
        return s.create(dir.filePath(name));
    };
    if (shape.kind == Shape::File) {
        QVERIFY(create(u"list.cfg"_s, "LIST += Sam", "LIST += Kira"));
        QVERIFY(create(u"config.cfg"_s, "PLAY_SOUND = FALSE", "AUTO_SHOW = FALSE"));
    } else {
        QVERIFY(shape.create(dir.filePath(u"list.cfg"_s)));
        QVERIFY(shape.create(dir.filePath(u"config.cfg"_s)));
    }

    WatcherOptions options;
    options.lobbyAddress = QHostAddress::LocalHost;
    options.lobbyPort = 1; // nothing listens: only the list matters here
    options.folder = dir.path();
    PeakMemory memory;
    const bool peakKnown = memory.start();
    SilencedOutput silenced;
    lookOut watcher(nullptr, options);
    const settings::Values values = settings::load(dir.filePath(u"config.cfg"_s));
    if (peakKnown && memoryIsJudged)
        QVERIFY2(
            memory.growth() < memoryBound, qPrintable(u"reading took %1 MB"_s.arg(memory.growth() / MB)));

    QCOMPARE(watcher.isIntresting(u"Sam"_s), a);
    QCOMPARE(watcher.isIntresting(u"Kira"_s), b);
    QCOMPARE(values.playSound, !a);
    QCOMPARE(values.autoShow, !b);

    // A save through a link to a device, as root, once replaced the device.
    if (shape.kind == Shape::LinkToZero)
        return;
    const QString config = dir.filePath(u"config.cfg"_s);
    QCOMPARE(settings::save(config, values), saved);
    if (saved) {
        QCOMPARE(contents(config), settings::fileText(values));
    } else {
        // Left as it was: no settings file in its place, and a link still a link.
        QVERIFY(!QFileInfo(config).isFile());
        QCOMPARE(QFileInfo(config).isSymLink(), shape.kind == Shape::LinkToFifo);
    }
}

QTEST_GUILESS_MAIN(tst_files)
#include "tst_files.moc"
