#pragma once

#include "core/AppError.h"

class MessageBoxes;

// The report text: prefix, signed number, the fixed sentence, the description and the
// cancellation note, joined by CR LF.
QString FormatErrorReport(const QString &prefix, const ErrorInfo &error);

// Show a pending error in a critical box titled with its source. False (and no box) when no
// error is pending.
bool ReportError(MessageBoxes &boxes, const ErrorInfo &error);
bool ReportFileError(MessageBoxes &boxes, const ErrorInfo &error);

// Turns whatever escaped a step into the error value the report routines take.
ErrorInfo TrappedError(const std::exception &e);
