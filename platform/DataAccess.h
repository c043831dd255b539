#pragma once

// The data access layer: a connection to one SQLCipher file, record sets over queries with
// bound parameters, and a catalog that creates and drops tables. Every failure throws AppError.
#include "platform/Catalog.h"
#include "platform/Connection.h"
#include "platform/RecordSet.h"
