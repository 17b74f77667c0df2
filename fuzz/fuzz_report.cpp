// The lobby's report as the watcher reads it, judged by the QRegExp
// reference reading: report::PollReader fed the bytes in pieces, the way
// packets arrive, must find the same watched players in the same order,
// trace each of them, and judge the answer's end by its tail.
//
// Input: one control byte, then the extra watch-list entries and packet
// sizes it announces, then the report. The control byte's low two bits
// count the entries (each a length byte, at most 24, and that many Latin-1
// bytes), the next two bits one less than the number of packet sizes (one
// byte each, plus one). An input too short for what it announces is all report.

#include "presence.h"
#include "reference.h"
#include "report.h"

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

    const watchlist::Matcher matcher(watched);
    report::PollReader reader(matcher);
    QStringList entries;
    QByteArray traces;
    for (qsizetype at = 0, i = 0; at < bytes.size(); ++i) {
        const qsizetype size = qMin<qsizetype>(pieces[i % pieces.size()], bytes.size() - at);
        reader.read(QByteArrayView(bytes).sliced(at, size));
        at += size;
        const QStringList found = reader.takeEntries();
        for (const QString &entry : found)
            traces += presence::traceLine(entry);
        entries += found;
    }
    if (reader.pastBound())
        return 0;

    check(entries == reference::online(bytes, watched), "the reader and the QRegExp reading disagree");
    check(traces.count('\n') == entries.size(), "not one trace for each watched player");
    const QByteArray tail = bytes.mid(bytes.lastIndexOf('\n') + 1);
    const bool cutOff = tail.startsWith("SERVER ") || tail.startsWith("CLIENTS ");
    check(reader.verdict()
            == (cutOff ? report::PollReader::Verdict::CutOff : report::PollReader::Verdict::Report),
        "the tail misjudged");

    // Whatever a report holds, comparing it with itself says nothing and
    // comparing it with nothing announces everyone.
    check(presence::compare(entries, entries).kind == presence::Notice::None, "a report differs from itself");
    const presence::Notice first = presence::compare(entries, {});
    check((first.kind == presence::Notice::Important) == !entries.isEmpty(), "first report misjudged");
    return 0;
}
