#include "app/ui/ProgramEnd.h"

#include <QApplication>
#include <QWidget>

namespace {
bool ended = false;
}

void EndProgram()
{
    ended = true;
    for (QWidget *window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(1);
}

bool ProgramEnded()
{
    return ended;
}
