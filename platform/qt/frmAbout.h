#pragma once

#include <QDialog>

// The About window: program name and version.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);
};
