#include "ibubble.h"

#include <QGuiApplication>
#include <QScreen>

iBubble::iBubble(QObject *)
    : QTextEdit(nullptr)
{
    setReadOnly(true);
}

void iBubble::showMessage(const QString &text)
{
    clear();
    insertHtml(text);
    // A frameless window that stays on top and keeps out of the task bar.
    // Setting flags re-creates a shown window, so only when they differ.
    if (windowFlags() != Qt::ToolTip)
        setWindowFlags(Qt::ToolTip);
    // The work area may have changed since the last notice: a panel moved.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        setGeometry(area.x() + area.width() - width, area.y() + area.height() - height, width, height);
    }
    show();
    emit visibleState(true);
}

void iBubble::hideMessage()
{
    // The user is reading it.
    if (underMouse())
        return;
    emit visibleState(false);
    hide();
}
