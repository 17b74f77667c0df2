// list.cfg as the watcher reads it: lines::forEachFileLine over the file,
// then watchlist::isComment and watchlist::entryName on each line, and a
// Matcher built from the entries found.

#include "lines.h"
#include "watchlist.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_watchlist: %s\n", what);
        std::abort();
    }
}

// The lines of a file by the documented rule, written out the long way: cut
// after each line feed, drop lines past the bound, drop the CR of a CR LF,
// end each line's text at a NUL, one byte per character.
QStringList expectedLines(const QByteArray &bytes)
{
    QStringList result;
    qsizetype start = 0;
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
        result.append(QString::fromLatin1(line));
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
    lines::forEachFileLine(file, [&](const QString &line) {
        read.append(line);
        const bool comment = watchlist::isComment(line);
        check(comment == (line.size() >= 2 && line.front() == u'#'), "isComment misjudged");
        if (const auto name = watchlist::entryName(line)) {
            check(!comment, "a comment read as an entry");
            check(!name->isEmpty() && u"LIST += "_s + *name + u'\n' == line, "entry name does not rebuild the line");
            entries.append(*name);
        }
    });
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
