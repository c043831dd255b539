#pragma once

#include <QList>
#include <QString>

// One row of a template's mapping table: a source column and the contact field it goes to.
struct MappingRow {
    int sourceColumnNumber = 0; // "Col#", counted from 1
    QString sourceColumnName;   // "Column Name"
    QString displayName;        // "Outlook Field"; empty while unmapped
    QString key;                // "Key"; empty while unmapped

    bool operator==(const MappingRow &) const = default;
};

using MappingRows = QList<MappingRow>;
