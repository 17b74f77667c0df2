#pragma once

#include <QObject>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

// glibc keeps the memory a notice freed (the report read, the text laid out)
// spread through the heap; handed back to the system once the event loop has
// finished with the notice, it is not held through the quiet minutes between
// polls.
inline void returnFreeHeapSoon(QObject *context)
{
#ifdef __GLIBC__
    QTimer::singleShot(0, context, [] { malloc_trim(0); });
#else
    Q_UNUSED(context);
#endif
}
