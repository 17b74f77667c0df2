#pragma once

#include <QString>
#include <QStringView>

#include <functional>

class QFile;
class QIODevice;

// The one reader of the hand-edited files, list.cfg and config.cfg.
namespace lines {

// A line longer than this is dropped whole, up to its line feed. No line of
// these files has a reason to come near it; it only bounds what a damaged
// file can make us hold.
constexpr qsizetype maxLineLength = 1024 * 1024;

// A "#" followed by at least one more character (its line feed counts): a
// comment line in either hand-edited file. A lone "#" with no line feed is
// not one, as the QRegExp reference reading of "^#.+" has it.
bool isComment(QStringView line);

enum class Text {
    Latin1, // one byte one character
    // UTF-8 when the line is valid UTF-8, as editors on Linux save it, and
    // otherwise Latin-1, as the Windows editors the file was first written
    // with saved it; a UTF-8 byte-order mark at the start of the file is
    // skipped.
    Utf8OrLatin1,
};

// Reads a text file to its end and hands each line, line feed included, to
// `line`. A carriage return right before a line feed is dropped, so files
// with either line end read alike; any other carriage return is kept. A NUL
// byte ends a line's text early, so such a line has lost its line feed. A
// last line without a line feed is handed over without one.
void forEachFileLine(
    QIODevice &file, const std::function<void(const QString &)> &line, Text text = Text::Latin1);

// Hands each line of a hand-edited file to `line` as forEachFileLine() does
// and closes it again. A file that is missing or not a regular file hands
// none: a named pipe would wait for a writer forever, and a link to a device
// could read without end.
void readRegularFile(QFile &file, const std::function<void(const QString &)> &line, Text text = Text::Latin1);

} // namespace lines
