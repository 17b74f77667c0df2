#include "settings.h"

#include "lines.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <optional>

namespace settings {

namespace {

// The value of a "KEY = VALUE" line: the key at the very start, white space
// and an equals sign, one run of non-space characters, then only white space,
// ending in the line feed.
std::optional<QStringView> valueOf(QStringView line, QStringView key)
{
    if (!line.startsWith(key))
        return std::nullopt;
    qsizetype i = key.size();
    const auto skipSpace = [&] {
        while (i < line.size() && line[i].isSpace())
            ++i;
    };
    skipSpace();
    if (i == line.size() || line[i] != u'=')
        return std::nullopt;
    ++i;
    skipSpace();
    const qsizetype start = i;
    while (i < line.size() && !line[i].isSpace())
        ++i;
    if (i == start)
        return std::nullopt;
    const QStringView value = line.sliced(start, i - start);
    skipSpace();
    if (i != line.size() || line.back() != u'\n')
        return std::nullopt;
    return value;
}

// Overwrites the file where it lies, for a folder that takes no new file.
// QSaveFile's own fallback for this truncates the file first, so a full disk
// would leave it empty; here nothing of the old text is touched until the
// space for the new one is held: the part past the old end goes in first, and
// only then the part over the old bytes, which needs no more room.
bool writeInPlace(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return false;
    const qint64 oldSize = file.size();
    const qint64 size = text.size();
    if (size > oldSize) {
        const qint64 extra = size - oldSize;
        if (!file.seek(oldSize) || file.write(text.constData() + oldSize, extra) != extra || !file.flush()) {
            file.resize(oldSize);
            return false;
        }
    }
    const qint64 over = std::min(oldSize, size);
    if (!file.seek(0) || file.write(text.constData(), over) != over || !file.flush())
        return false;
    return file.resize(size);
}

} // namespace

void applyLine(Values &values, QStringView line)
{
    if (lines::isComment(line))
        return;
    if (const auto value = valueOf(line, u"PLAY_SOUND"); value && *value == u"FALSE")
        values.playSound = false;
    if (const auto value = valueOf(line, u"AUTO_SHOW"); value && *value == u"FALSE")
        values.autoShow = false;
    if (const auto value = valueOf(line, u"SHOW_TIME")) {
        bool ok = false;
        const int ms = value->toString().toInt(&ok, 10);
        values.showTime = ok ? ms : 0;
    }
}

Values load(const QString &path, Values values)
{
    QFile file(path);
    lines::readRegularFile(file, [&](const QString &line) { applyLine(values, line); });
    return values;
}

QByteArray fileText(const Values &values)
{
    QByteArray text = "#START OF CONFIG FILE\n\n";
    text += values.playSound ? "PLAY_SOUND = TRUE\n" : "PLAY_SOUND = FALSE\n";
    text += values.autoShow ? "AUTO_SHOW = TRUE\n" : "AUTO_SHOW = FALSE\n";
    text += "SHOW_TIME = " + QByteArray::number(values.showTime) + "\n\n";
    text += "#FINISH OF CONFIG FILE";
    return text;
}

bool save(const QString &path, const Values &values)
{
    // A folder, pipe or device where the file should be is the user's doing;
    // it is left as it is.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isFile())
        return false;
    QByteArray text = fileText(values);
#ifdef Q_OS_WIN
    // Text mode's line ends, for both ways of writing below (QIODevice::Text
    // would not reach the one in place).
    text.replace('\n', "\r\n");
#endif
    QSaveFile save(path);
    if (!save.open(QIODevice::WriteOnly))
        return existing.exists() && existing.isWritable() && writeInPlace(path, text);
    // Flushed here, since commit() in Qt 6.4 takes a flush that failed for
    // want of space for success and puts an empty file in the old one's place.
    if (save.write(text) != text.size() || !save.flush()) {
        save.cancelWriting();
        return false;
    }
    return save.commit();
}

} // namespace settings
