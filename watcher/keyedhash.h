#pragma once

#include <QStringView>
#include <QtGlobal>

#include <cstddef>

namespace keyedhash {

// The hash of the watcher's own tables of names and entries. The lobby
// chooses most of what goes into them, so the hash is keyed with a random
// key drawn once per process: nobody can prepare, in advance, a report whose
// names all fall into the same slot and turn every lookup into a walk down
// the table. It is SipHash-1-3, the keyed hash Rust's hash maps use against
// the same attack. Not qHash() with Qt's seed: in Qt 6.4 on x86 that is an
// AES hash which, called once per name between other work, made reading a
// report more than twice as slow (lookout-bench read/typical).
struct Key
{
    quint64 k0;
    quint64 k1;
};

// The process's key, the same for every table.
const Key &processKey();

size_t hash(QStringView text, const Key &key);

} // namespace keyedhash
