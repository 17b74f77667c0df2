#include "sound.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

// A sound is loaded when it is first played: until then neither it nor the
// sound system costs the program any memory, and a user who switched sound
// off never pays for it. It loads in the background and starts once loaded;
// a missing file or a missing sound device makes it silent, nothing more.
struct NoticeSound::Player
{
    std::unique_ptr<QSoundEffect> effect;
};

NoticeSound::NoticeSound(const QString &path)
    : m_path(path)
    , m_player(std::make_unique<Player>())
{
}

NoticeSound::~NoticeSound() = default;

void NoticeSound::play()
{
    std::unique_ptr<QSoundEffect> &effect = m_player->effect;
    if (!effect) {
        effect = std::make_unique<QSoundEffect>();
        // A file that is not there is not handed to Qt at all: its failed
        // load leaves work behind in Qt's sample cache that is never cleaned up.
        if (QFileInfo(m_path).isFile())
            effect->setSource(QUrl::fromLocalFile(m_path));
    }
    effect->play();
}
