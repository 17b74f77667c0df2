#include "lines.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace lines {

namespace {

QString decoded(QByteArray bytes, Text text)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    if (text == Text::Latin1)
        return QString::fromLatin1(bytes);
    // A byte-order mark inside the file is a character like any other: only
    // the one at the start of the file is skipped, by forEachFileLine().
    QStringDecoder utf8(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString line = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : line;
}

} // namespace

bool isComment(QStringView line)
{
    return line.size() >= 2 && line.front() == u'#';
}

void forEachFileLine(QIODevice &file, const std::function<void(const QString &)> &line, Text text)
{
    if (text == Text::Utf8OrLatin1 && file.peek(3) == "\xef\xbb\xbf")
        file.skip(3);
    bool overlong = false;
    while (!file.atEnd()) {
        // readLine() takes one byte less than it is given.
        QByteArray bytes = file.readLine(maxLineLength + 2);
        const bool ended = bytes.endsWith('\n');
        if (!overlong && (ended || file.atEnd()) && !bytes.isEmpty()) {
            if (bytes.endsWith("\r\n"))
                bytes.remove(bytes.size() - 2, 1);
            line(decoded(bytes, text));
        }
        // The first piece of a line too long to read whole: drop it and the
        // rest, up to its line feed.
        overlong = !ended;
    }
}

void readRegularFile(QFile &file, const std::function<void(const QString &)> &line, Text text)
{
    // Not QIODevice::Text: it would drop every carriage return, and only one
    // right before a line feed is a line end.
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return;
    forEachFileLine(file, line, text);
    file.close();
}

} // namespace lines
