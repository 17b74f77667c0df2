// The comparison of two polls: presence::compare on two lists of entries,
// checked against the rules it documents and against the notice of the
// QRegExp reference reading (tests/reference.h), and for escaping: whatever a
// name holds, the only markup in a notice is the notice's own.
//
// Input: UTF-8 entries separated by 0xFE bytes, the two lists (now, then
// before) by a 0xFF byte. Neither byte occurs in UTF-8, so an entry can hold
// any character, line feeds and NULs included.

#include "presence.h"
#include "reference.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;
using presence::Notice;

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_presence: %s\n", what);
        std::abort();
    }
}

QStringList entries(const QByteArray &bytes)
{
    QStringList list;
    if (bytes.isEmpty())
        return list;
    for (const QByteArray &e : bytes.split('\xfe'))
        list.append(QString::fromUtf8(e));
    return list;
}

// What the text between the notice's own tags may hold: no markup, and an
// ampersand only as one of the four entities the escaping writes.
bool isPlainText(QStringView s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'<' || s[i] == u'>' || s[i] == u'"')
            return false;
        if (s[i] == u'&') {
            const QStringView from = s.sliced(i);
            if (!from.startsWith(u"&lt;") && !from.startsWith(u"&gt;") && !from.startsWith(u"&amp;")
                && !from.startsWith(u"&quot;"))
                return false;
        }
    }
    return true;
}

void checkMarkup(const QString &text)
{
    static const QStringView opens[]
        = {u"<font color=#000000><b>", u"<font color=#00aa00><b>", u"<font color=#c0c0c0><b>"};
    QStringView rest = text;
    while (!rest.isEmpty()) {
        bool opened = false;
        for (QStringView open : opens) {
            if (rest.startsWith(open)) {
                rest = rest.sliced(open.size());
                opened = true;
            }
        }
        check(opened, "a notice line with an unknown start");
        const qsizetype close = rest.indexOf(u"</b> ");
        check(close >= 0 && isPlainText(rest.first(close)), "markup in a player's name");
        rest = rest.sliced(close + 5);
        check(rest.startsWith(u"on ") || rest.startsWith(u"left "), "a notice line with an unknown verb");
        rest = rest.sliced(rest.indexOf(u' ') + 1);
        const qsizetype end = rest.indexOf(u"<br/></font>");
        check(end >= 0 && isPlainText(rest.first(end)), "markup in a server's name");
        rest = rest.sliced(end + 12);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = bytes.indexOf('\xff');
    const QStringList now = entries(cut < 0 ? bytes : bytes.left(cut));
    const QStringList before = entries(cut < 0 ? QByteArray() : bytes.mid(cut + 1));

    const Notice notice = presence::compare(now, before);

    // The QRegExp reference reading's notice, from its nested loops.
    const reference::Notice expected = reference::compare(now, before);
    bool arrival = false;
    for (const QString &e : now)
        arrival = arrival || !before.contains(e);

    check((notice.kind == Notice::None) == (now == before), "nothing to tell is not the same as equal lists");
    check((notice.kind == Notice::Important) == arrival, "important without an arrival, or the other way");
    check(notice.kind != Notice::None || notice.text.isEmpty(), "text without a notice");
    check(int(notice.kind) == int(expected.kind) && notice.text == expected.text,
        "the notice differs from the QRegExp reference reading's");
    checkMarkup(notice.text);
    return 0;
}
