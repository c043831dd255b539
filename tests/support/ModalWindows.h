#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <functional>

// Owns the waits of WhenModal; CloseStrayWindows ends them with the test that made them.
inline QObject *&ModalWaits()
{
    static QObject *waits = nullptr;
    if (!waits)
        waits = new QObject;
    return waits;
}

// A modal window's exec() blocks the test: this acts on the next modal window of type T once
// it is up, then closes it if the action left it open, so a broken answer fails the test
// instead of hanging it.
template <typename T> void WhenModal(std::function<void(T *)> act, int tries = 500)
{
    QTimer::singleShot(10, ModalWaits(), [act, tries] {
        auto *window = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!window) {
            if (tries > 0)
                WhenModal<T>(act, tries - 1);
            return;
        }
        QPointer<T> open(window);
        act(window);
        if (open && open->isVisible())
            open->close();
    });
}

// Closes what a test left open, ends its waits and the wait cursor it left set, so the next
// test starts clean.
inline void CloseStrayWindows()
{
    delete ModalWaits();
    ModalWaits() = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        window->close();
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}
