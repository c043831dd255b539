#include "editor/frmTemplate.h"

#include <QCloseEvent>

frmTemplate::frmTemplate(QWidget *home) : QWidget(nullptr), m_home(home)
{
    setObjectName(QStringLiteral("frmTemplate"));
    setWindowTitle(QStringLiteral("ContactMirel - Create/Edit Import Template"));
    resize(720, 520);
}

void frmTemplate::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (m_home)
        m_home->show();
}
