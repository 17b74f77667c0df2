#include "lines.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QtEndian>

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

const HashKey &hashKey()
{
    static const HashKey key{
        QRandomGenerator::system()->generate64(), QRandomGenerator::system()->generate64()};
    return key;
}

namespace {

constexpr quint64 rotl(quint64 x, int b)
{
    return (x << b) | (x >> (64 - b));
}

struct SipState
{
    quint64 v0, v1, v2, v3;

    void round()
    {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }

    void add(quint64 m)
    {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

} // namespace

size_t textHash(QStringView text, const HashKey &key)
{
    // SipHash-1-3 over the UTF-16 units as they lie in memory.
    const auto *p = reinterpret_cast<const uchar *>(text.utf16());
    const size_t size = size_t(text.size()) * 2;
    SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL, key.k0 ^ 0x6c7967656e657261ULL,
        key.k1 ^ 0x7465646279746573ULL};
    size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        quint64 m;
        std::memcpy(&m, p + at, 8);
        s.add(qFromLittleEndian(m));
    }
    quint64 last = quint64(size) << 56;
    for (size_t i = 0; at + i < size; ++i)
        last |= quint64(p[at + i]) << (8 * i);
    s.add(last);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return size_t(s.v0 ^ s.v1 ^ s.v2 ^ s.v3);
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
