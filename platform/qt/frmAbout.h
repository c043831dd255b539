#pragma once

#include <QDialog>

// The About window: program name and version, and the folder of the user's templates and
// default address book.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(const QString &dataFolder, QWidget *parent = nullptr);
};
