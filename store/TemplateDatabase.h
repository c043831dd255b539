#pragma once

#include "core/ItemList.h"
#include "platform/DataAccess.h"

#include <QString>

struct AppState;
struct Services;

inline const QString kTemplateDatabaseFile = QStringLiteral("MirelTmplts.mdb");
inline const QString kTemplateDatabasePassword = QStringLiteral("brightmeadowsun");

QString TemplateDatabasePath(const QString &dataPath);

// The two fixed tables of the template database.
DataAccess::Table SysParmsTableSchema();
DataAccess::Table TemplateIndexTableSchema();

// Opens the database beside the executable (creating it on the first start) and opens the
// system-parameters and index record sets. False when the program cannot go on.
bool OpenTemplateDatabase(AppState &state, Services &services);
// Builds a new empty database file; each failing step is reported and the next one runs.
bool CreateTemplateDatabase(Services &services);
// Fills the list with the template names in the user's order, ignoring letter case.
bool LoadTemplateList(AppState &state, Services &services, ItemList &list);
