#include "lines.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QStringDecoder>

namespace lines {

namespace {

QByteArrayView beforeNul(QByteArrayView bytes)
{
    const void *nul = std::memchr(bytes.data(), '\0', size_t(bytes.size()));
    return nul ? bytes.first(static_cast<const char *>(nul) - bytes.data()) : bytes;
}

} // namespace

bool isComment(QStringView line)
{
    return line.size() >= 2 && line.front() == u'#';
}

QString latin1Text(QByteArrayView bytes)
{
    return QString::fromLatin1(beforeNul(bytes));
}

QString utf8OrLatin1Text(QByteArrayView bytes)
{
    bytes = beforeNul(bytes);
    // A byte-order mark inside the file is a character like any other: only
    // the one at the start of the file is skipped, by forEachFileLine().
    QStringDecoder utf8(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QString utf8Text(QByteArrayView bytes)
{
    return QString::fromUtf8(beforeNul(bytes));
}

void forEachFileLine(QIODevice &file, const std::function<void(const QString &)> &line, FileText text)
{
    const auto decode = text == FileText::Latin1 ? latin1Text : utf8OrLatin1Text;
    const auto take = [&](QByteArrayView bytes) {
        if (bytes.endsWith("\r\n")) {
            QByteArray copy = bytes.toByteArray();
            copy.remove(copy.size() - 2, 1);
            line(decode(copy));
        } else {
            line(decode(bytes));
        }
    };
    if (text == FileText::Utf8OrLatin1 && file.peek(3) == "\xef\xbb\xbf")
        file.skip(3);

    Splitter splitter;
    char chunk[64 * 1024];
    qint64 got;
    while ((got = file.read(chunk, sizeof chunk)) > 0)
        splitter.feed(chunk, got, take);
    if (!splitter.rest().isEmpty())
        take(splitter.rest());
}

bool openRegularFile(QFile &file)
{
    // Not QIODevice::Text: it would drop every carriage return, and only one
    // right before a line feed is a line end.
    return QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly);
}

void readRegularFile(QFile &file, const std::function<void(const QString &)> &line)
{
    if (!openRegularFile(file))
        return;
    forEachFileLine(file, line);
    file.close();
}

} // namespace lines
