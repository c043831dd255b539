#pragma once

#include "source/SourceTable.h"

#include <memory>

class QIODevice;

// The text of a comma-delimited file as a table; path names the file in messages. Every line
// after the header is a row, an empty one too. Throws AppError for an empty text, a quote never
// closed, a read that fails, or more than kMaxSourceFileBytes.
std::unique_ptr<SourceTable> ReadCommaDelimited(QIODevice &in, bool header, const QString &path);
std::unique_ptr<SourceTable> ReadCommaDelimited(const QByteArray &bytes, bool header, const QString &path);
