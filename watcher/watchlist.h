#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

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

// The part of a player's name after its clan tag: after the first "[" that is
// closed by a "]" at least one character later, with at least one character
// still following. When several "]" qualify the last one closes the tag, as a
// greedy "\[.+\](.+)" would have it, so "[A]B]C" leaves "C". Without such a
// tag the result is empty.
QStringView afterTag(QStringView name);

// The watch list prepared for matching many names: the tags in list order,
// and the plain entries as a set of their lower-case forms.
class Matcher final
{
public:
    Matcher() = default;
    explicit Matcher(const QStringList &entries);

    bool isWatched(QStringView name) const;
    bool isEmpty() const { return m_tags.isEmpty() && m_plain.isEmpty(); }

private:
    QStringList m_tags;
    QSet<QString> m_plain;
};

} // namespace watchlist
