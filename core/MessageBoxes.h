#pragma once

#include <QString>
#include <optional>

// Every modal message box of the program goes through this service, so windows and
// operations stay testable: the Qt implementation shows a QMessageBox, the test one answers
// from a script.
class MessageBoxes {
public:
    enum class Icon { None, Critical, Question, Exclamation, Information };
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageBoxes() = default;

    // A box without a title of its own (nullopt) carries the application's title.
    virtual Answer show(const QString &text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
                        const std::optional<QString> &title = std::nullopt) = 0;
};

inline const QString kCrLf = QStringLiteral("\r\n");
