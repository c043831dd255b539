#include "store/StoreTransaction.h"

#include "core/AppState.h"
#include "store/TemplateRecords.h"

StoreTransaction::StoreTransaction(AppState &state) : m_state(state)
{
    m_state.connection->beginTransaction();
    m_open = true;
}

StoreTransaction::~StoreTransaction()
{
    if (!m_open)
        return;
    try {
        rollback();
    } catch (const std::exception &) {
        // Nothing more can be done from a destructor; the file keeps what SQLite restored.
    }
}

void StoreTransaction::commit()
{
    m_state.connection->commit();
    m_open = false;
}

void StoreTransaction::rollback()
{
    m_open = false;
    m_state.connection->rollback();
    // The open record sets may show rows that were just taken back.
    if (Records(m_state).systemRecord.isOpen())
        Records(m_state).systemRecord.requery();
    Records(m_state).indexRecord.close();
    Records(m_state).mappingRecords.close();
}
