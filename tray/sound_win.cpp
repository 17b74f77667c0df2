#include "sound.h"

#include <QDir>

#include <windows.h>

#include <mmsystem.h>

// The system's WAV player returns at once and copies the name it is given;
// SND_NODEFAULT keeps a missing file silent instead of playing the system's
// default sound.
struct NoticeSound::Player
{
};

NoticeSound::NoticeSound(const QString &path)
    : m_path(QDir::toNativeSeparators(path))
{
}

NoticeSound::~NoticeSound() = default;

void NoticeSound::play()
{
    PlaySoundW(
        reinterpret_cast<const wchar_t *>(m_path.utf16()), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}
