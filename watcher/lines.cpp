#include "lines.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

namespace lines {

namespace {

QByteArrayView beforeNul(QByteArrayView bytes)
{
    const void *nul = std::memchr(bytes.data(), '\0', size_t(bytes.size()));
    return nul ? bytes.first(static_cast<const char *>(nul) - bytes.data()) : bytes;
}

} // namespace

QString latin1Text(QByteArrayView bytes)
{
    return QString::fromLatin1(beforeNul(bytes));
}

QString utf8Text(QByteArrayView bytes)
{
    return QString::fromUtf8(beforeNul(bytes));
}

void forEachFileLine(QIODevice &file, const std::function<void(const QString &)> &line)
{
    const auto take = [&](QByteArrayView text) {
        if (text.endsWith("\r\n")) {
            QByteArray copy = text.toByteArray();
            copy.remove(copy.size() - 2, 1);
            line(latin1Text(copy));
        } else {
            line(latin1Text(text));
        }
    };

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

} // namespace lines
