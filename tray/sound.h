#pragma once

#include <QString>

#include <memory>

// One notice sound: a WAV file, played without waiting for it to end. A
// missing file plays nothing, never a default sound. Linux plays it through
// Qt Multimedia, Windows through the system's own WAV player.
class NoticeSound final
{
    Q_DISABLE_COPY_MOVE(NoticeSound)

public:
    explicit NoticeSound(const QString &path);
    ~NoticeSound();

    void play();

private:
    struct Player;
    QString m_path;
    std::unique_ptr<Player> m_player;
};
