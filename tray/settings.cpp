#include "settings.h"


#include <QString>

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

} // namespace

void applyLine(Values &values, QStringView line)
{
    if (line.size() >= 2 && line.front() == u'#')
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

QByteArray fileText(const Values &values)
{
    QByteArray text = "#START OF CONFIG FILE\n\n";
    text += values.playSound ? "PLAY_SOUND = TRUE\n" : "PLAY_SOUND = FALSE\n";
    text += values.autoShow ? "AUTO_SHOW = TRUE\n" : "AUTO_SHOW = FALSE\n";
    text += "SHOW_TIME = " + QByteArray::number(values.showTime) + "\n\n";
    text += "#FINISH OF CONFIG FILE";
    return text;
}

} // namespace settings
