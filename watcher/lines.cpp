#include "lines.h"

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

size_t textHash(QStringView text)
{
    const char *p = reinterpret_cast<const char *>(text.utf16());
    size_t n = size_t(text.size()) * sizeof(char16_t);
    quint64 h = 0x9e3779b97f4a7c15ULL ^ n;
    const auto mix = [&h](quint64 word) {
        h = (h ^ word) * 0xff51afd7ed558ccdULL;
        h ^= h >> 32;
    };
    for (; n >= 8; p += 8, n -= 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        mix(word);
    }
    if (n > 0) {
        quint64 word = 0;
        std::memcpy(&word, p, n);
        mix(word);
    }
    h *= 0xc4ceb9fe1a85ec53ULL;
    return size_t(h ^ (h >> 29));
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

} // namespace lines
