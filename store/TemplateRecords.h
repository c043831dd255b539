#pragma once

#include "core/AppState.h"
#include "platform/DataAccess.h"

// The record sets of the template store that stay open between operations.
struct TemplateRecords {
    DataAccess::RecordSet systemRecord;
    DataAccess::RecordSet indexRecord;
    DataAccess::RecordSet mappingRecords;
    DataAccess::RecordSet listRecords;
};

// The state's record sets, made on first use.
inline TemplateRecords &Records(AppState &state)
{
    if (!state.records)
        state.records = std::make_shared<TemplateRecords>();
    return *state.records;
}
