#include "platform/qt/QtFileDialogs.h"

#include <QApplication>
#include <QFileDialog>

QString QtFileDialogs::getOpenFileName(const QString &filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(), filter);
}
