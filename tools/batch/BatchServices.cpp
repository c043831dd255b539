#include "BatchServices.h"

#include "platform/CardDavStore.h"
#include "platform/ContactCard.h"
#include "platform/VCardStore.h"

#include "core/AppError.h"
#include "core/AppState.h"

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

FixedFolderPicker::FixedFolderPicker(const QString &directory) : m_directory(directory)
{
    if (carddav::isServerLocation(directory))
        return; // an address book on a server, opened by its address
    // Taken as written, not cleaned: "Leads/.." must not become the directory that holds Leads.
    // "DIR/" as a shell completes it names DIR.
    QString path = QDir::isAbsolutePath(directory) ? directory : QDir::currentPath() + QLatin1Char('/') + directory;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    m_name = path.mid(slash + 1);
    const QString book = slash > 0 ? path.left(slash) : QStringLiteral("/");
    const QString canonical = QFileInfo(book).canonicalFilePath();
    m_book = canonical.isEmpty() ? book : canonical;
}

std::shared_ptr<outlook::Folder> FixedFolderPicker::pickFolder(outlook::Namespace &ns)
{
    // Asked again only when the folder was refused: the command line has no other answer.
    if (m_asked)
        return nullptr;
    m_asked = true;
    if (carddav::isServerLocation(m_directory))
        return ns.GetFolderFromID(m_directory);
    const QString path = QDir(m_book).filePath(m_name);
    const QFileInfo info(path);
    // A name starting with a dot (".", "..", a hidden directory) is never a folder of the store.
    if (m_name.isEmpty() || m_name.startsWith(QLatin1Char('.')) || info.isSymLink() || (info.exists() && !info.isDir()))
        throw AppError(ErrorCode::NotFound,
                       QStringLiteral("'%1' is not a contact folder: a contact folder is a directory inside its "
                                      "address book, not the address book itself and not a link.")
                           .arg(m_directory));
    auto folder = ns.AddStore(m_book)->OpenFolder(m_name, outlook::olContactItem);
    if (folder->EntryID() != path)
        throw AppError(ErrorCode::Internal, QStringLiteral("The folder '%1' could not be made.").arg(path));
    return folder;
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

std::shared_ptr<outlook::ContactItem> DryRunFolder::Add(const QString &messageClass)
{
    class Contact : public outlook::ContactItem {
    public:
        Contact(DryRunFolder &folder, const QString &messageClass) : m_folder(folder)
        {
            m_data.messageClass = messageClass;
        }
        void Close(int saveMode) override
        {
            if (saveMode != outlook::olSave)
                return;
            m_savedUid = vcardstore::newContactUid();
            const QByteArray card = vcardstore::cardFromContact(m_savedUid, m_data);
            if (m_folder.firstCards.size() < 10)
                m_folder.firstCards << card;
        }

    private:
        DryRunFolder &m_folder;
    };
    return std::make_shared<Contact>(*this, messageClass);
}
