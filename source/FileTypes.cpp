#include "source/FileTypes.h"

#include "core/ItemList.h"

namespace FileTypeCode {

const QStringList &listTexts()
{
    static const QStringList texts{QStringLiteral("CSH - Text/CSV Comma Del w/ Hdr"),
                                   QStringLiteral("CSN - Text/CSV Comma Del w/o Hdr"),
                                   QStringLiteral("XLH - Excel w/ Header"), QStringLiteral("XLN - Excel w/o Header")};
    return texts;
}

QString listText(const QString &code)
{
    for (const QString &text : listTexts())
        if (codeOf(text) == code)
            return text;
    return QString();
}

QString codeOf(const QString &listEntry)
{
    return listEntry.left(3);
}

Family family(const QString &fileType)
{
    const QStringList &texts = listTexts();
    if (fileType == CSH || fileType == CSN || fileType == texts[0] || fileType == texts[1])
        return Family::Text;
    if (fileType == XLH || fileType == XLN || fileType == texts[2] || fileType == texts[3])
        return Family::Excel;
    return Family::None;
}

bool hasHeader(const QString &fileType)
{
    const QStringList &texts = listTexts();
    return fileType == CSH || fileType == XLH || fileType == texts[0] || fileType == texts[2];
}

QString dialogFilter(Family family)
{
    // "Text/CSV (*.txt;*.csv)|*.txt;*.csv" and "Excel (*.xls)|*.xls" in Qt's filter syntax; the
    // Excel types read Excel 2007+ and OpenDocument workbooks too.
    switch (family) {
    case Family::Text:
        return QStringLiteral("Text/CSV (*.txt *.csv)");
    case Family::Excel:
        return QStringLiteral("Excel (*.xls *.xlsx *.ods)");
    default:
        return QString();
    }
}

} // namespace FileTypeCode

bool FillFileTypeList(ItemList &list)
{
    for (const QString &text : FileTypeCode::listTexts())
        list.addItem(text);
    list.clearText();
    return true;
}
