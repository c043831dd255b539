#pragma once

#include "core/MessageBoxes.h"

// Message boxes as QMessageBox, owned by the active window.
class QtMessageBoxes : public MessageBoxes {
public:
    Answer show(const QString &text, Buttons buttons, Icon icon, const std::optional<QString> &title) override;
};
