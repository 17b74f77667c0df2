#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <string>

// The lines of list.cfg and the rule that decides whether a player is on it.
namespace watchlist {

// The name of a "LIST += name" line that ends with its line feed; everything
// between the eight-character prefix and that line feed is the name, spaces
// and tabs included.
std::optional<QString> entryName(QStringView line);

// An entry in square brackets with at least one character between them is a
// clan tag, looked for anywhere in a player's name.
bool isTag(QStringView entry);

// The part of a player's name after its clan tag, or nothing without one.
QStringView afterTag(QStringView name);

// `text` case folded unit by unit as QString::indexOf with Qt::CaseInsensitive
// compares it: a low surrogate that follows a high one stands for the folding
// of their whole character, any other unit for its own.
std::u32string foldedUnits(QStringView text);

// The watch list, ready to be asked about many names: the tags case folded,
// and the plain entries in lower case, sorted. A lobby's names are only looked up in
// them, never stored, so it cannot make the search slower than its length.
class Matcher final
{
public:
    Matcher() = default;
    explicit Matcher(const QStringList &entries);

    // One more entry, ready to be asked at once.
    void add(const QString &entry);
    bool isWatched(QStringView name) const;
    bool isEmpty() const { return m_tags.isEmpty() && m_plain.isEmpty(); }

private:
    QList<std::u32string> m_tags;
    QStringList m_plain;
};

} // namespace watchlist
