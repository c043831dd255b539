#pragma once

#include <QString>
#include <QStringList>

class ItemList;

// The four kinds of source file, each with its three-letter code and its list text.
namespace FileTypeCode {
inline const QString CSH = QStringLiteral("CSH");
inline const QString CSN = QStringLiteral("CSN");
inline const QString XLH = QStringLiteral("XLH");
inline const QString XLN = QStringLiteral("XLN");

enum class Family { None, Text, Excel };

// The list texts in list order.
const QStringList &listTexts();
// The list text of a code; empty for anything else.
QString listText(const QString &code);
// The code of a list entry: its first three characters.
QString codeOf(const QString &listEntry);
// Code or whole list text, compared exactly.
Family family(const QString &fileType);
// True for the types whose first line or row holds the column names. Code or list text.
bool hasHeader(const QString &fileType);
// The open-file dialog's filter of a family, in Qt's syntax.
QString dialogFilter(Family family);
} // namespace FileTypeCode

// Fills the editor's file-type list with the four list texts and shows none as chosen.
bool FillFileTypeList(ItemList &list);
