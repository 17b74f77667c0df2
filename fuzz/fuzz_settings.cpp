// config.cfg as the tray reads and writes it: lines::forEachFileLine and
// settings::applyLine, and settings::fileText read back.

#include "lines.h"
#include "settings.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "fuzz_settings: %s\n", what);
        std::abort();
    }
}

settings::Values read(QByteArray bytes, settings::Values values = {})
{
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    lines::forEachFileLine(file, [&](const QString &line) { settings::applyLine(values, line); });
    return values;
}

bool same(const settings::Values &a, const settings::Values &b)
{
    return a.playSound == b.playSound && a.autoShow == b.autoShow && a.showTime == b.showTime;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const settings::Values values = read(bytes);
    const QByteArray saved = settings::fileText(values);
    check(same(read(saved), values), "the saved file does not read back as what was saved");
    check(settings::fileText(read(saved)) == saved, "saving twice changed the file");
    check(saved.count('\n') == 6 && !saved.endsWith('\n'), "the saved file lost its shape");

    // The file can switch sound and auto show off but never on.
    const settings::Values off = read(bytes, {false, false, 1});
    check(!off.playSound && !off.autoShow, "a line switched a setting on");
    check(off.showTime == values.showTime || (off.showTime == 1 && values.showTime == 5000),
        "SHOW_TIME depends on what came before");
    return 0;
}
