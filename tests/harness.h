#pragma once

#include <QByteArray>
#include <QFile>

#include <iostream>

// What the long-running and hostile tests share: memory figures from the
// kernel, and a way to keep the watcher's traces off their output.

#if defined(__SANITIZE_ADDRESS__)
#define LOOKOUT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOOKOUT_ASAN 1
#endif
#endif

// Under AddressSanitizer freed memory waits in a quarantine of up to 256 MB
// and every allocation carries redzones, so resident memory says nothing
// about the program's own: the bounds are judged in the other builds.
#ifdef LOOKOUT_ASAN
constexpr bool memoryIsJudged = false;
#else
constexpr bool memoryIsJudged = true;
#endif

// Resident memory from /proc/self/status, in bytes; -1 where there is none.
inline qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// The highest resident memory since start(), above what it was then: the
// kernel's own high-water mark, reset through clear_refs, so no peak between
// two samples is missed.
class PeakMemory
{
public:
    // False where the kernel does not let the mark be reset.
    bool start()
    {
        QFile reset(QStringLiteral("/proc/self/clear_refs"));
        m_start = statusBytes("VmRSS:");
        return reset.open(QIODevice::WriteOnly) && reset.write("5") == 1 && m_start > 0;
    }
    qint64 growth() const { return statusBytes("VmHWM:") - m_start; }

private:
    qint64 m_start = 0;
};

// Keeps the watcher's per-player trace off the test's output while it lives:
// a flood of valid lines would print millions of them.
class SilencedOutput
{
public:
    SilencedOutput()
        : m_saved(std::cout.rdbuf(nullptr))
    {
    }
    ~SilencedOutput() { std::cout.rdbuf(m_saved); }
    SilencedOutput(const SilencedOutput &) = delete;
    SilencedOutput &operator=(const SilencedOutput &) = delete;

private:
    std::streambuf *m_saved;
};
