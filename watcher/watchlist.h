#pragma once

#include "fastpath.h"
#include "keyedhash.h"
#include "lines.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace watchlist {

// "#" followed by at least one more character, line feed included: a comment.
bool isComment(QStringView line);

// The name of a "LIST += name" line that ends with its line feed; everything
// between the eight-character prefix and that line feed is the name, spaces
// and tabs included.
std::optional<QString> entryName(QStringView line);

// An entry in square brackets with at least one character between them is a
// clan tag, looked for anywhere in a player's name.
bool isTag(QStringView entry);

// The part of a player's name after its clan tag: after the first "[", the
// first "]" that has at least one character between them and at least one
// after it closes the tag. That is what QRegExp's greedy "\[.+\](.+)"
// captures, though a backtracking engine would close at the last one:
// "[A][B]Sam" leaves "[B]Sam", "[A]B]C" leaves "B]C", "[[a]]b" leaves "]b".
// Without such a tag the result is empty.
QStringView afterTag(QStringView name);

// The watch list prepared for matching many names: the tags case-folded and
// ordered for lookup at each "[" of a name, and the plain entries as a hash
// table of their lower-case forms. Preparing it costs one pass over the list;
// a name then costs one pass over its characters and, at most, one lookup.
class Matcher final
{
public:
    Matcher() = default;
    explicit Matcher(const QStringList &entries);

    bool isWatched(QStringView name) const;
    bool isEmpty() const { return m_tags.isEmpty() && m_plain.empty(); }

private:
    bool isPlainEntry(QStringView key, bool wholeName) const;
    bool isEntry(QStringView lowered) const;
    bool contains(QStringView lowered, size_t hash) const;

    fastpath::TagSearch m_tags;
    struct Slot
    {
        size_t hash; // of the entry, so that strings are compared only on a likely hit
        quint32 entry; // 1 + its index in m_lowered; 0 for a free slot
    };

    fastpath::EntrySketch m_sketch; // of the plain entries
    QStringList m_lowered; // the plain entries, lower-cased
    std::vector<Slot> m_plain; // open addressing, linear probing, at most half full
    size_t m_mask = 0;
    const keyedhash::Key *m_key = &keyedhash::processKey();
};

} // namespace watchlist
