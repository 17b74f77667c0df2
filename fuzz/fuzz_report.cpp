// The lobby's report as the watcher reads it: bytes cut into lines by
// lines::Splitter, server and clients lines picked out, players matched
// against a watch list and turned into presence entries.
//
// Input: one control byte, then the extra watch-list entries and packet
// sizes it announces, then the report. The control byte's low two bits
// count the entries (each a length byte, at most 24, and that many Latin-1
// bytes), the next two bits one less than the number of packet sizes (one
// byte each, plus one). An input too short for what it announces is all report.

#include "lines.h"
#include "presence.h"
#include "report.h"
#include "watchlist.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_report: %s\n", what);
        std::abort();
    }
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c.isMark() || c == u'_';
}

bool hasSpace(QStringView s)
{
    for (QChar c : s) {
        if (c.isSpace())
            return true;
    }
    return false;
}

struct Cut
{
    QList<QByteArray> lines;
    QByteArray rest;
    bool inLine = false;
};

// Feeds `bytes` in pieces of the given sizes, repeated, the way packets arrive.
Cut cut(const QByteArray &bytes, const QList<int> &pieces)
{
    Cut result;
    lines::Splitter splitter;
    qsizetype at = 0;
    for (int i = 0; at < bytes.size(); ++i) {
        const qsizetype size = qMin<qsizetype>(pieces[i % pieces.size()], bytes.size() - at);
        splitter.feed(bytes.constData() + at, size,
            [&](QByteArrayView line) { result.lines.append(line.toByteArray()); });
        at += size;
    }
    result.rest = splitter.rest().toByteArray();
    result.inLine = splitter.inLine();
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList watched{u"Sam"_s, u"Kira"_s, u"[AB]"_s, u"Big Tom"_s, u"Zo\u00eb"_s, u"<b>"_s};
    QList<int> pieces;
    if (!bytes.isEmpty()) {
        const quint8 control = quint8(bytes[0]);
        qsizetype at = 1;
        QStringList extra;
        for (int i = 0; i < (control & 3) && at < bytes.size(); ++i) {
            const qsizetype length = qMin<qsizetype>(quint8(bytes[at]), 24);
            extra.append(QString::fromLatin1(bytes.mid(at + 1, length)));
            at += 1 + length;
        }
        for (int i = 0; i <= ((control >> 2) & 3) && at < bytes.size(); ++i)
            pieces.append(quint8(bytes[at++]) + 1);
        if (at <= bytes.size()) {
            watched += extra;
            bytes.remove(0, at);
        }
    }
    if (pieces.isEmpty())
        pieces.append(1);

    // How the bytes are cut into packets must not change the lines.
    const Cut whole = cut(bytes, {int(qMax<qsizetype>(1, bytes.size()))});
    const Cut inPieces = cut(bytes, pieces);
    check(whole.lines == inPieces.lines, "packet boundaries changed the lines");
    check(
        whole.rest == inPieces.rest && whole.inLine == inPieces.inLine, "packet boundaries changed the rest");

    QByteArray joined;
    for (const QByteArray &line : whole.lines) {
        check(line.endsWith('\n') && line.indexOf('\n') == line.size() - 1, "a line is not one line");
        check(line.size() <= lines::maxLineLength + 1, "an overlong line got through");
        joined += line;
    }
    if (bytes.size() <= lines::maxLineLength)
        check(joined + whole.rest == bytes, "bytes were lost or added");
    check(whole.inLine == !whole.rest.isEmpty(), "inLine disagrees with rest");

    const watchlist::Matcher matcher(watched);
    QString server;
    QStringList online;
    for (const QByteArray &raw : whole.lines) {
        // The watcher's own order of tests: only the two keywords are decoded.
        if (raw.startsWith("SERVER ")) {
            const QString line = lines::utf8Text(raw);
            if (const auto name = report::serverName(line)) {
                check(!name->isEmpty() && line.endsWith(name->toString() + u'\n'),
                    "server name not at the end");
                for (QChar c : *name)
                    check(isWordChar(c), "server name with a non-word character");
                server = name->toString();
            }
        } else if (raw.startsWith("CLIENTS ")) {
            const QString line = lines::utf8Text(raw);
            const auto list = report::playerList(line);
            if (!list)
                continue;
            check(!list->isEmpty() && !list->contains(u'\n'), "player list empty or with a line feed");
            check(line.endsWith(list->toString() + u'\n'), "player list not at the end");
            const QChar *previous = nullptr;
            report::forEachPlayer(*list, [&](QStringView name) {
                check(!name.isEmpty(), "an empty name");
                check(name.data() >= list->data() && name.data() + name.size() <= list->data() + list->size(),
                    "a name outside its list");
                check(previous == nullptr || name.data() > previous, "names out of order");
                check(name.lastIndexOf(u'\t') <= 0, "a tab inside a name");
                previous = name.data();

                const bool isWatched = matcher.isWatched(name);
                // An entry with a clan tag in it is compared with what follows
                // a player's tag, so only untagged names must find themselves.
                if (watchlist::afterTag(name).isEmpty() && watched.contains(name.toString()))
                    check(isWatched, "a listed name is not watched");
                if (name.contains(u"[ab]", Qt::CaseInsensitive))
                    check(isWatched, "a tagged name is not watched");
                if (!isWatched)
                    return;
                const QString entry = presence::entry(name, server);
                if (!hasSpace(name) && !server.isEmpty()) {
                    const presence::Split who = presence::split(entry);
                    check(who.player == name && who.server == server, "entry does not split back");
                }
                online.append(entry);
            });
        }
    }

    // Whatever a report holds, comparing it with itself says nothing and
    // comparing it with nothing announces everyone.
    check(presence::compare(online, online).kind == presence::Notice::None, "a report differs from itself");
    const presence::Notice first = presence::compare(online, {});
    check((first.kind == presence::Notice::Important) == !online.isEmpty(), "first report misjudged");
    return 0;
}
