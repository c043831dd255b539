#include "import/ui/frmUndoImport.h"

#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "import/UndoRun.h"
#include "store/ImportJournal.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString kTitle = QStringLiteral("Undo an Import");
constexpr int kRunRole = Qt::UserRole;
constexpr int kCountRole = Qt::UserRole + 1;
} // namespace

frmUndoImport::frmUndoImport(AppState &state, Services &services, QWidget *parent)
    : QDialog(parent), m_state(state), m_services(services)
{
    setObjectName(QStringLiteral("frmUndoImport"));
    setWindowTitle(kTitle);
    auto *layout = new QVBoxLayout(this);
    lstRuns = new QTreeWidget(this);
    lstRuns->setObjectName(QStringLiteral("lstRuns"));
    lstRuns->setRootIsDecorated(false);
    lstRuns->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Template"), QStringLiteral("File"),
                              QStringLiteral("Folder"), QStringLiteral("Contacts created"), QStringLiteral("Outcome")});
    layout->addWidget(lstRuns);
    auto *buttons = new QDialogButtonBox(this);
    cmdUndo = buttons->addButton(QStringLiteral("&Undo"), QDialogButtonBox::ActionRole);
    cmdClose = buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    resize(920, 320);

    connect(cmdUndo, &QPushButton::clicked, this, &frmUndoImport::cmdUndo_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstRuns, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        cmdUndo->setEnabled(item && item->text(5) != QLatin1String("undone"));
    });
    fill();
}

void frmUndoImport::fill()
{
    lstRuns->clear();
    cmdUndo->setEnabled(false);
    try {
        for (const ImportRunRecord &run : ImportRuns(m_state.connection)) {
            const qsizetype created = ImportRunContacts(m_state.connection, run.id).size();
            auto *item = new QTreeWidgetItem(
                lstRuns, {run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), run.templateName,
                          run.source, run.entryId, QString::number(created), run.outcome});
            item->setData(0, kRunRole, run.id);
            item->setData(0, kCountRole, int(created));
        }
    } catch (const std::exception &e) {
        ReportError(m_services.boxes(), TrappedError(e));
    }
    lstRuns->header()->resizeSections(QHeaderView::ResizeToContents);
}

void frmUndoImport::cmdUndo_Click()
{
    const QTreeWidgetItem *item = lstRuns->currentItem();
    if (!item)
        return;
    const QString question = QStringLiteral("%1 contacts created by the import of %2 will be deleted; those changed "
                                            "since are kept.\r\nUndo this import?")
                                 .arg(item->data(0, kCountRole).toInt())
                                 .arg(item->text(0));
    if (m_services.boxes().show(question, MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::Question, kTitle) !=
        MessageBoxes::Answer::Yes)
        return;
    UndoCounts counts;
    if (UndoImportRun(m_state, m_services, item->data(0, kRunRole).toString(), counts))
        m_services.boxes().show(QStringLiteral("Contacts deleted: %1\r\nContacts kept - changed since: %2\r\n"
                                               "Contacts already gone: %3")
                                    .arg(counts.removed)
                                    .arg(counts.changed)
                                    .arg(counts.gone),
                                MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Information, kTitle);
    fill();
}
