#include "platform/qt/QtMessageBoxes.h"

#include "core/AppError.h"

#include <QApplication>
#include <QMessageBox>

MessageBoxes::Answer QtMessageBoxes::show(const QString &text, Buttons buttons, Icon icon,
                                          const std::optional<QString> &title)
{
    QMessageBox box(QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // texts such as "<MirelTmplts.mdb>" are not markup
    box.setText(text);
    box.setWindowTitle(title.value_or(kAppTitle));
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        // A box closed by its close button answers as its safe choice.
        if (buttons == Buttons::YesNo)
            return Answer::No;
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        return Answer::Cancel;
    }
}
