#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstring>
#include <functional>

class QFile;
class QIODevice;

namespace lines {

// A line longer than this is dropped whole, up to its line feed. Nothing the
// program reads has a reason to come near it; it only bounds what a hostile
// server or a damaged file can make us hold.
constexpr qsizetype maxLineLength = 1024 * 1024;

// A "#" followed by at least one more character (its line feed counts): a
// comment line in either hand-edited file. A lone "#" with no line feed is
// not one, as the QRegExp reference reading of "^#.+" has it.
bool isComment(QStringView line);

// The text of one line of a hand-edited file: one byte is one Latin-1
// character, and a NUL byte ends the text early (so a line cut by a NUL has
// lost its line feed and matches nothing).
QString latin1Text(QByteArrayView bytes);

// The text of one line of list.cfg: UTF-8 when the line is valid UTF-8, as
// editors on Linux save it, and otherwise Latin-1, one byte one character,
// as the Windows editors the file was first written with saved it. A NUL
// byte ends the text early either way.
QString utf8OrLatin1Text(QByteArrayView bytes);

// The text of one line of a lobby report: UTF-8, ending early at a NUL byte.
QString utf8Text(QByteArrayView bytes);

// Cuts a stream of bytes, fed in pieces as they arrive, into lines that keep
// their line feed. A line that grows past maxLineLength is dropped up to its
// line feed without ever being held whole.
class Splitter final
{
public:
    template <typename Sink> void feed(const char *data, qsizetype size, Sink &&line)
    {
        const char *p = data;
        const char *const end = data + size;
        while (p < end) {
            const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            const char *const stop = lf ? lf + 1 : end;
            const qsizetype length = stop - p;
            if (lf && m_pending.isEmpty() && !m_skipping) {
                if (length <= maxLineLength + 1) // + 1 for the line feed
                    line(QByteArrayView(p, length));
            } else if (!m_skipping) {
                if (m_pending.size() + length > maxLineLength + 1) {
                    m_pending.clear();
                    m_pending.squeeze();
                    m_skipping = true;
                } else {
                    m_pending.append(p, length);
                    if (lf) {
                        line(QByteArrayView(m_pending));
                        m_pending.clear();
                    }
                }
            }
            if (lf)
                m_skipping = false;
            p = stop;
        }
    }

    // What is left after the last line feed, unless it was too long.
    QByteArrayView rest() const { return m_pending; }
    // Whether the bytes so far end in the middle of a line.
    bool inLine() const { return m_skipping || !m_pending.isEmpty(); }

    void reset()
    {
        m_pending.clear();
        m_skipping = false;
    }

private:
    QByteArray m_pending;
    bool m_skipping = false;
};

enum class FileText {
    Latin1, // every line by latin1Text()
    Utf8OrLatin1, // every line by utf8OrLatin1Text(), after a UTF-8 byte-order mark at the start of the file
};

// Reads a text file to its end and hands each line, line feed included, to
// `line`. A carriage return right before a line feed is dropped, so files with
// either line end read alike; any other carriage return is kept. A last line
// without a line feed is handed over without one.
void forEachFileLine(
    QIODevice &file, const std::function<void(const QString &)> &line, FileText text = FileText::Latin1);

// Opens a hand-edited file for reading, unless it is not a regular file: a
// named pipe would wait for a writer forever and a link to a device could
// read without end.
bool openRegularFile(QFile &file);

// Hands each line of a hand-edited file to `line` as forEachFileLine does and
// closes it again; a file that is missing or not a regular file hands none.
void readRegularFile(QFile &file, const std::function<void(const QString &)> &line);

} // namespace lines
