#include "ibubble.h"

#include "freeheap.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

iBubble::iBubble(QObject *)
    : QTextEdit(nullptr)
{
    setReadOnly(true);
    // The notice colours (black, green, light grey) were chosen for a light
    // page; a dark desktop theme would draw the black lines on near black.
    // So the bubble keeps a light page of its own whatever the theme; the
    // selection and the scroll bars keep the theme's own colours.
    QPalette page = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        page.setColor(group, QPalette::Base, Qt::white);
        page.setColor(group, QPalette::Window, Qt::white);
        page.setColor(group, QPalette::Text, Qt::black);
    }
    setPalette(page);
    // Nobody can edit the text, so there is nothing to undo: each notice's
    // text would otherwise be kept a second time as undo steps.
    setUndoRedoEnabled(false);
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
    returnFreeHeapSoon(this);
}
