#include "import/EmailCheck.h"

bool CheckEmailAddress(const QString &address, QString &code)
{
    if (!address.contains(QLatin1Char('@')) || !address.contains(QLatin1Char('.'))) {
        code = QStringLiteral("E1");
        return false;
    }
    const qsizetype finalDot = address.lastIndexOf(QLatin1Char('.'));
    const qsizetype topLevel = address.size() - (finalDot + 1);
    if (topLevel >= 1 && topLevel <= 8)
        return true;
    code = QStringLiteral("E2");
    return false;
}
