#include "platform/qt/DesktopPasswordStore.h"

#include "core/AppError.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("ContactMirel Importer");

// The bus names of the stores QtKeychain talks to on Linux.
const QStringList kStoreNames{QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd5"),
                              QStringLiteral("org.kde.kwalletd6")};

// Only a bus that is known is asked: with none, connecting would try to launch one.
bool storeOnSessionBus()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QStringList activatable = bus.interface()->activatableServiceNames().value();
    for (const QString &name : kStoreNames)
        if (bus.interface()->isServiceRegistered(name).value() || activatable.contains(name))
            return true;
    return false;
}

struct Outcome {
    QKeychain::Error error = QKeychain::OtherError;
    QString reason = QStringLiteral("the password store did not answer");
    QString text;
};

// Runs a job to its end. The store may ask the user to unlock it first, hence the long wait;
// user input to the program's own windows waits meanwhile.
Outcome finish(QKeychain::Job *job, const QUrl &server)
{
    Outcome outcome;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *done) {
        outcome.error = done->error();
        outcome.reason = done->errorString();
        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(done))
            outcome.text = read->textData();
        loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    job->setInsecureFallback(false); // never a file of our own
    job->setKey(server.toString());
    job->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return outcome;
}

} // namespace

bool DesktopPasswordStore::available()
{
    if (!m_available)
        m_available = storeOnSessionBus();
    return *m_available;
}

std::optional<ServerLogin> DesktopPasswordStore::read(const QUrl &server)
{
    if (!available())
        return std::nullopt;
    const Outcome outcome = finish(new QKeychain::ReadPasswordJob(kService), server);
    if (outcome.error != QKeychain::NoError)
        return std::nullopt;
    const QJsonObject kept = QJsonDocument::fromJson(outcome.text.toUtf8()).object();
    return ServerLogin{kept.value(QStringLiteral("user")).toString(), kept.value(QStringLiteral("password")).toString(),
                       kept.value(QStringLiteral("caFile")).toString()};
}

void DesktopPasswordStore::write(const QUrl &server, const ServerLogin &login)
{
    auto *job = new QKeychain::WritePasswordJob(kService);
    job->setTextData(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("user"), login.user},
                                                                 {QStringLiteral("password"), login.password},
                                                                 {QStringLiteral("caFile"), login.caFile}})
                                           .toJson(QJsonDocument::Compact)));
    const Outcome outcome = finish(job, server);
    if (outcome.error != QKeychain::NoError)
        throw AppError(ErrorCode::Internal,
                       QStringLiteral("The password for %1 could not be kept in the desktop's password store: %2")
                           .arg(server.toString(), outcome.reason));
}

void DesktopPasswordStore::remove(const QUrl &server)
{
    if (available())
        finish(new QKeychain::DeletePasswordJob(kService), server);
}
