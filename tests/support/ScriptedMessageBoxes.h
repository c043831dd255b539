#pragma once

#include "core/MessageBoxes.h"

#include <QList>
#include <QStringList>

// Records every box and answers from a queue. A question (more than one button) with no
// queued answer, or an answer left unused, is a test failure reported by verifyDone().
class ScriptedMessageBoxes : public MessageBoxes {
public:
    struct Box {
        QString text;
        Buttons buttons;
        Icon icon;
        QString title;
    };

    Answer show(const QString &text, Buttons buttons, Icon icon, const std::optional<QString> &title) override;

    void answer(Answer a) { m_answers << a; }
    QList<Box> boxes;
    QStringList texts() const;
    // Empty when every queued answer was used and no question went unanswered.
    QString problems() const;
    void clear() { boxes.clear(); }

private:
    QList<Answer> m_answers;
    QStringList m_problems;
};
