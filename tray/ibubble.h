#pragma once

#include <QTextEdit>

#include <memory>

class QAbstractNativeEventFilter;
class QScreen;

// The small window in the bottom right-hand corner of the screen's work area
// that shows the latest notice.
class iBubble : public QTextEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(iBubble)

public:
    static constexpr int width = 200;
    static constexpr int height = 150;

    // The bubble is a window of its own: `creator` is not its parent.
    explicit iBubble(QObject *creator = nullptr);
    ~iBubble() override;

signals:
    void visibleState(bool shown);

public slots:
    void showMessage(const QString &text);
    void hideMessage();

private:
    void showPlaced();
    void placeIfShown();
    bool rescaled() const;
    void followScreen(QScreen *screen);

    std::unique_ptr<QAbstractNativeEventFilter> workAreaWatch;
    // The scale its window was made at.
    qreal madeAtScale = 0;
};
