#pragma once

#include <QString>
#include <exception>

// A trapped error: what every report routine receives.
struct ErrorInfo {
    qint32 number = 0; // 0 means no error is pending
    QString description;
    QString source;

    bool pending() const { return number != 0; }
    bool operator==(const ErrorInfo &) const = default;
};

// Source of the errors the program raises itself.
inline const QString kAppTitle = QStringLiteral("Mirel");

// Error codes the program relies on.
namespace ErrorCode {
// The code of a database file that cannot be opened because it is not there.
constexpr qint32 FileNotFound = -2147467259;
// A component (data access, contact store) that cannot be created.
constexpr qint32 CannotCreateObject = 429;
// An object that should have been obtained is missing.
constexpr qint32 ObjectMissing = 91;
// A value that a field cannot hold.
constexpr qint32 TypeMismatch = 13;
// Any other failure of the program itself.
constexpr qint32 Internal = 5;
// A contact store item or folder that cannot be found.
constexpr qint32 NotFound = -2147221233;
} // namespace ErrorCode

// Failures travel as this exception from the step that failed to the operation's trap,
// which reports them and returns its False result. It never leaves an operation that traps.
class AppError : public std::exception {
public:
    explicit AppError(ErrorInfo info) : m_info(std::move(info)), m_what(m_info.description.toUtf8()) {}
    AppError(qint32 number, const QString &description, const QString &source = kAppTitle)
        : AppError(ErrorInfo{number, description, source})
    {}

    const ErrorInfo &info() const { return m_info; }
    qint32 number() const { return m_info.number; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    ErrorInfo m_info;
    QByteArray m_what;
};
