#include "keyedhash.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <cstring>

namespace keyedhash {

const Key &processKey()
{
    static const Key key{QRandomGenerator::system()->generate64(), QRandomGenerator::system()->generate64()};
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

size_t hash(QStringView text, const Key &key)
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

} // namespace keyedhash
