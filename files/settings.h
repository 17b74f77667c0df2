#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// The user's three settings and the text of config.cfg that holds them:
//
//   PLAY_SOUND = TRUE
//   AUTO_SHOW = FALSE
//   SHOW_TIME = 5000
//
// A line counts only when it is the key, an equals sign and one value, with
// any white space around them, up to its line feed. The file can switch sound
// and auto show off but never on: only "FALSE" has an effect, so a damaged
// file errs on the side of the defaults.
namespace settings {

struct Values
{
    bool playSound = true;
    bool autoShow = true;
    int showTime = 5000; // ms an automatically opened bubble stays; negative: until clicked
};

// Applies one line, line feed included, to `values`; any other line changes nothing.
void applyLine(Values &values, QStringView line);

// `values` with the file at `path` applied to them line by line, one byte one
// Latin-1 character: a missing file, or one that is not a regular file (a
// pipe, a folder, a link to a device), leaves them as they are.
Values load(const QString &path, Values values = {});

// The whole file as saved: seven lines, the last without a line feed.
QByteArray fileText(const Values &values);

// Writes fileText(values) to the file at `path`; true once it is all on disk
// (flushed). Where the folder takes new files, the text is written beside the
// old file and put in its place only when complete; where only the file itself
// can be written (a shared or system install), it is written in place. Either
// way a save that fails leaves the old file as it was, and a folder, pipe or
// device where the file should be is left alone.
bool save(const QString &path, const Values &values);

} // namespace settings
