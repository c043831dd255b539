#include "BatchServices.h"

#include "app/AppError.h"
#include "app/AppState.h"

#include <QDir>
#include <QFileInfo>

namespace {
void err(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
} // namespace

MessageBoxes::Answer StderrMessageBoxes::show(const QString &text, Buttons buttons, Icon,
                                              const std::optional<QString> &title)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    err(title.value_or(kAppTitle) + QStringLiteral(": ") + shown + QLatin1Char('\n'));
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    Answer answer = Answer::No;
    if (title == QStringLiteral("Updating Contact") && continueOnFieldErrors)
        answer = Answer::Yes;
    // Asked only when no input file is known; saying Yes ends the choice instead of asking again.
    if (text == QStringLiteral("No file has been selected - are you sure?"))
        answer = Answer::Yes;
    err(answer == Answer::Yes ? QStringLiteral("  -> Yes\n") : QStringLiteral("  -> No\n"));
    return answer;
}

std::shared_ptr<outlook::Folder> FixedFolderPicker::pickFolder(outlook::Namespace &ns)
{
    const QFileInfo info(m_directory);
    const QString path = info.absoluteFilePath();
    QDir parent = info.absoluteDir();
    if (!parent.exists())
        throw AppError(ErrorCode::NotFound, QStringLiteral("The folder '%1' does not exist.").arg(parent.path()));
    auto store = ns.AddStore(parent.path());
    for (const auto &folder : store->Folders())
        if (QFileInfo(folder->EntryID()).absoluteFilePath() == path)
            return folder;
    if (info.exists())
        throw AppError(ErrorCode::NotFound, QStringLiteral("'%1' is not a contact folder.").arg(path));
    auto made = store->AddFolder(info.fileName(), outlook::olContactItem);
    if (QFileInfo(made->EntryID()).absoluteFilePath() != path)
        throw AppError(ErrorCode::Internal, QStringLiteral("The folder '%1' could not be made.").arg(path));
    return made;
}

void FixedCustomFormAnswer::ask(AppState &state)
{
    err(QStringLiteral("Custom Outlook Form Information: ") + state.customFormNotice + QLatin1Char('\n'));
    for (const auto &[name, type] : state.userDefinedFields)
        err(QStringLiteral("  ") + name + QStringLiteral(" (") + type + QStringLiteral(")\n"));
    err(accept ? QStringLiteral("  -> Yes\n") : QStringLiteral("  -> No\n"));
    state.useCustomFolder = accept;
}

void TerminalProgress::showTotal(int rows)
{
    m_total = rows;
    m_clock.start();
}

void TerminalProgress::showRowNumber(int row)
{
    if (!m_terminal || m_total <= 0)
        return;
    const int percent = int(qint64(row) * 100 / m_total);
    if (percent == m_last && row != m_total && row % 1000 != 0)
        return;
    m_last = percent;
    const double seconds = std::max(m_clock.elapsed() / 1000.0, 0.001);
    const int width = 30;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\r[%s%s] %d/%d rows, %.0f rows/s", QByteArray(filled, '#').constData(),
                 QByteArray(width - filled, ' ').constData(), row, m_total, row / seconds);
    std::fflush(stderr);
}

void TerminalProgress::finish()
{
    if (m_terminal && m_total > 0)
        std::fputs("\n", stderr);
}
