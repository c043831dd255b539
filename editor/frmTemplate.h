#pragma once

#include <QWidget>

// The template editor window. Leaving it shows the main window again.
class frmTemplate : public QWidget {
    Q_OBJECT
public:
    explicit frmTemplate(QWidget *home);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *m_home;
};
