#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringView>

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

// Plain rule: name.indexOf(tag, 0, Qt::CaseInsensitive) >= 0 for some tag.
// The tags are case-folded once and sorted by the unit after their "[", so a
// name costs one look for "[" and, at each, a search among the few tags that
// can start there, instead of a search through the whole name for each tag.
class TagSearch final
{
public:
    void add(QStringView tag); // a clan tag: "[", at least one unit, "]"
    void prepare();            // after the last add()
    bool isEmpty() const { return m_tags.empty(); }
    bool foundIn(QStringView name) const;

private:
    struct Tag
    {
        char32_t second; // the folded unit after the "[", the key the tags are sorted by
        quint32 offset;  // into m_folded
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

} // namespace fastpath
