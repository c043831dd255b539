#include "ScriptedMessageBoxes.h"

#include "core/AppError.h"

MessageBoxes::Answer ScriptedMessageBoxes::show(const QString &text, Buttons buttons, Icon icon,
                                                const std::optional<QString> &title)
{
    boxes << Box{text, buttons, icon, title.value_or(kAppTitle)};
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    if (buttons != Buttons::Ok)
        m_problems << QStringLiteral("unanswered question: ") + text;
    return buttons == Buttons::YesNo ? Answer::No : buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList out;
    for (const Box &b : boxes)
        out << b.text;
    return out;
}

QString ScriptedMessageBoxes::problems() const
{
    QStringList all = m_problems;
    if (!m_answers.isEmpty())
        all << QStringLiteral("%1 queued answer(s) never asked for").arg(m_answers.size());
    return all.join(QLatin1Char('\n'));
}
