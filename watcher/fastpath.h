#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringView>

#include <bitset>
#include <cstring>
#include <vector>

// The watcher's shortcuts, each beside the plain Qt call it stands for and
// must agree with to the last character (tests/tst_matchfold holds them to
// it). Each stays because a figure in BENCHMARKS.md needs it; everything else
// in the watcher is written the plain way.
namespace fastpath {

// Plain rule: QString::toLower(). Lower-cases `key` into `lowered` (room for
// key.size() units) one unit at a time, without a string of its own, and
// tells whether that gave what QString::toLower() gives: it does not for
// surrogates and U+0130 (NeedsQt), and, with `stopAtBracket`, it stops at a
// "[" (Bracket), where the name may carry a tag. Spares an allocation per
// player name.
enum class Lowering { Done, NeedsQt, Bracket };
Lowering lowerSimply(QStringView key, char16_t *lowered, bool stopAtBracket = true);

// Plain rule, for the plain entries of a watch list: none, it only saves work.
// A filter in front of their hash table: mayHold() is false only for a
// lowered name that no entry can equal, as no entry has its length, first
// unit and last unit. Most names of a report are on no list, and the keyed
// hash costs more than the rest of their reading. The filter cannot be
// flooded: the watch list alone decides which of its bits are set.
class EntrySketch final
{
public:
    void add(QStringView lowered) { m_bits.set(of(lowered)); }
    bool mayHold(QStringView lowered) const { return m_bits.test(of(lowered)); }

private:
    static constexpr size_t bits = 1 << 16;
    static size_t of(QStringView lowered)
    {
        const qsizetype n = lowered.size();
        size_t s = size_t(n);
        if (n > 0)
            s = (s * 0x9e37 ^ lowered.front().unicode()) * 0x9e37 ^ lowered.back().unicode();
        return (s ^ (s >> 16)) % bits;
    }
    std::bitset<bits> m_bits;
};

// Plain rule: name.indexOf(tag, 0, Qt::CaseInsensitive) >= 0 for some tag.
// The tags are case-folded once and sorted by the unit after their "[", so a
// name costs one look for "[" and, at each, a search among the few tags that
// can start there, instead of a search through the whole name for each tag.
class TagSearch final
{
public:
    void add(QStringView tag); // a clan tag: "[", at least one unit, "]"
    void prepare(); // after the last add()
    bool isEmpty() const { return m_tags.empty(); }
    bool foundIn(QStringView name) const;

private:
    struct Tag
    {
        char32_t second; // the folded unit after the "[", the key the tags are sorted by
        quint32 offset; // into m_folded
        quint32 length;
    };
    std::vector<char32_t> m_folded; // every tag's units, case-folded
    std::vector<Tag> m_tags;
};

// Plain rule: lines::utf8Text(), QString::fromUtf8() of the bytes before the
// first NUL. Decodes into a buffer kept from line to line, so a report of many
// thousand lines is not as many thousand strings, and widens a line of plain
// ASCII, most server lines, without calling the decoder.
class LineDecoder final
{
public:
    // Valid until the next call.
    QStringView decode(QByteArrayView line);

private:
    QString m_text;
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};

// The shortcuts the matcher and the reader call for every name and line,
// here so that they are inlined where they are called.

namespace detail {

inline char16_t asciiLower(char16_t u)
{
    return u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
}

} // namespace detail

inline Lowering lowerSimply(QStringView key, char16_t *lowered, bool stopAtBracket)
{
    // Lower-cased one unit at a time, without a string of its own, when that
    // gives what QString::toLower() gives: for every unit but surrogates and
    // U+0130, the one character whose lower case is two (an "i" and a
    // combining dot), which QChar::toLower() leaves as it is.
    const char16_t *const s = key.utf16();
    for (qsizetype i = 0; i < key.size(); ++i) {
        const char16_t u = s[i];
        if (u < 0x80) {
            if (u == u'[' && stopAtBracket)
                return Lowering::Bracket;
            lowered[i] = detail::asciiLower(u);
            continue;
        }
        if (QChar::isSurrogate(u) || u == 0x130)
            return Lowering::NeedsQt;
        const char32_t l = QChar::toLower(char32_t(u));
        if (l > 0xffff)
            return Lowering::NeedsQt;
        lowered[i] = char16_t(l);
    }
    return Lowering::Done;
}

inline QStringView LineDecoder::decode(QByteArrayView line)
{
    if (const void *nul = std::memchr(line.data(), '\0', size_t(line.size())))
        line = line.first(static_cast<const char *>(nul) - line.data());
    // The buffer only grows, so that a line costs no resize.
    const qsizetype room = m_decoder.requiredSpace(line.size());
    if (m_text.size() < room)
        m_text.resize(room);
    QChar *const start = m_text.data();

    // Most server lines, and many other lines, are ASCII, which UTF-8 leaves
    // as it is: widening them is cheaper than calling the decoder.
    const char *const bytes = line.data();
    const qsizetype size = line.size();
    quint64 high = 0;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, bytes + i, 8);
        high |= word;
    }
    for (; i < size; ++i)
        high |= quint64(uchar(bytes[i]));
    if ((high & 0x8080808080808080ULL) == 0) {
        for (i = 0; i < size; ++i)
            start[i] = QChar(char16_t(uchar(bytes[i])));
        return QStringView(start, size);
    }

    m_decoder.resetState();
    const QChar *const end = m_decoder.appendToBuffer(start, line);
    return QStringView(start, end - start);
}

} // namespace fastpath
