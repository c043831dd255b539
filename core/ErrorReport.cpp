#include "core/ErrorReport.h"

#include "core/MessageBoxes.h"

namespace {

bool report(MessageBoxes &boxes, const QString &prefix, const ErrorInfo &error)
{
    if (!error.pending())
        return false;
    boxes.show(FormatErrorReport(prefix, error), MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical, error.source);
    return true;
}

} // namespace

QString FormatErrorReport(const QString &prefix, const ErrorInfo &error)
{
    // Non-negative numbers carry a leading blank in place of a sign.
    const QString number = error.number >= 0 ? QStringLiteral(" %1").arg(error.number) : QString::number(error.number);
    return prefix + number + QStringLiteral(" - The following error has occurred") + kCrLf + error.description + kCrLf +
           QStringLiteral("This request has been cancelled - retry");
}

bool ReportError(MessageBoxes &boxes, const ErrorInfo &error)
{
    return report(boxes, QStringLiteral("ERROR: "), error);
}

bool ReportFileError(MessageBoxes &boxes, const ErrorInfo &error)
{
    return report(boxes, QStringLiteral("FILE"), error);
}

ErrorInfo TrappedError(const std::exception &e)
{
    if (const auto *app = dynamic_cast<const AppError *>(&e))
        return app->info();
    // Anything else (out of memory, a library's own exception) is still a failure to report.
    return ErrorInfo{ErrorCode::Internal, QString::fromLocal8Bit(e.what()), kAppTitle};
}
