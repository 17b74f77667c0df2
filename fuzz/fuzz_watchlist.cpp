// list.cfg as the watcher reads it: lines::forEachFileLine over the file,
// then lines::isComment and watchlist::entryName on each line, and a
// Matcher built from the entries found.

#include "lines.h"
#include "watchlist.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_watchlist: %s\n", what);
        std::abort();
    }
}

// A line's bytes as UTF-8, decoded by the book: no overlong forms, no
// surrogates, nothing past U+10FFFF; nothing at all if any of that is broken.
std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QString text;
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar lead = uchar(bytes[i]);
        const int more = lead < 0x80      ? 0
            : lead >= 0xc2 && lead < 0xe0 ? 1
            : lead >= 0xe0 && lead < 0xf0 ? 2
            : lead >= 0xf0 && lead < 0xf5 ? 3
                                          : -1;
        if (more < 0 || i + more >= bytes.size())
            return std::nullopt;
        char32_t c = more == 0 ? lead : lead & (0x3f >> more);
        for (int k = 1; k <= more; ++k) {
            const uchar next = uchar(bytes[i + k]);
            if ((next & 0xc0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (next & 0x3f);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[more] || c > 0x10ffff || (c >= 0xd800 && c < 0xe000))
            return std::nullopt;
        // Not QString::fromUcs4(), which drops a byte-order mark.
        if (QChar::requiresSurrogates(c))
            text.append(QChar(QChar::highSurrogate(c))).append(QChar(QChar::lowSurrogate(c)));
        else
            text.append(QChar(char16_t(c)));
        i += 1 + more;
    }
    return text;
}

// The lines of a file by the documented rule, written out the long way: skip
// a UTF-8 byte-order mark at the start, cut after each line feed, drop lines
// past the bound, drop the CR of a CR LF, end each line's text at a NUL, and
// read it as UTF-8 if it is valid UTF-8, else one byte per character.
QStringList expectedLines(const QByteArray &bytes)
{
    QStringList result;
    qsizetype start = bytes.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (start < bytes.size()) {
        qsizetype lf = bytes.indexOf('\n', start);
        const qsizetype end = lf < 0 ? bytes.size() : lf + 1;
        QByteArray line = bytes.mid(start, end - start);
        start = end;
        if (line.size() > lines::maxLineLength + 1)
            continue;
        if (line.endsWith("\r\n"))
            line.remove(line.size() - 2, 1);
        const qsizetype nul = line.indexOf('\0');
        if (nul >= 0)
            line.truncate(nul);
        result.append(strictUtf8(line).value_or(QString::fromLatin1(line)));
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);

    QStringList read;
    QStringList entries;
    lines::forEachFileLine(
        file,
        [&](const QString &line) {
            read.append(line);
            const bool comment = lines::isComment(line);
            check(comment == (line.size() >= 2 && line.front() == u'#'), "isComment misjudged");
            if (const auto name = watchlist::entryName(line)) {
                check(!comment, "a comment read as an entry");
                check(!name->isEmpty() && u"LIST += "_s + *name + u'\n' == line,
                    "entry name does not rebuild the line");
                entries.append(*name);
            }
        },
        lines::Text::Utf8OrLatin1);
    check(read == expectedLines(bytes), "lines differ from the rule");

    const watchlist::Matcher matcher(entries);
    check(matcher.isEmpty() == entries.isEmpty(), "matcher lost its entries");
    for (const QString &entry : std::as_const(entries)) {
        // A player named exactly like an entry is watched, unless the entry
        // itself carries a clan tag: those are compared with what follows a
        // player's tag.
        if (watchlist::isTag(entry) || watchlist::afterTag(entry).isEmpty())
            check(matcher.isWatched(entry), "an entry does not match its own name");
    }
    return 0;
}
