#include "DavServer.h"

#include "platform/HttpClient.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

namespace {

const char *const LogName = "server.log";

QString programName(DavServer::Kind kind)
{
    return kind == DavServer::Kind::Radicale ? QString("radicale") : QString("xandikos");
}

// A port nobody listens on now; the server may still lose it to another process, hence the retries.
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Runs a short command to its end; its output when it failed, an empty text when it worked.
QString runToEnd(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished();
        return program + " failed: " + QString::fromLocal8Bit(process.readAll()) + process.errorString();
    }
    return QString();
}

} // namespace

DavServer::DavServer(Options options) : m_options(std::move(options))
{
    if (!m_dir.isValid())
        m_why = "no temporary folder: " + m_dir.errorString();
    else if (m_options.tls && m_options.kind != Kind::Radicale)
        m_why = "only radicale is started with TLS";
    else
        start();
}

DavServer::~DavServer()
{
    stop();
}

bool DavServer::running() const
{
    return m_why.isEmpty() && m_process.state() == QProcess::Running;
}

QString DavServer::why() const
{
    if (!m_why.isEmpty())
        return m_why;
    return running() ? QString() : programName(m_options.kind) + " has stopped";
}

QUrl DavServer::url() const
{
    QUrl root;
    root.setScheme(m_options.tls ? "https" : "http");
    root.setHost("127.0.0.1");
    root.setPort(m_port);
    root.setPath("/");
    return root;
}

QUrl DavServer::addressBookUrl() const
{
    QUrl book = url();
    book.setPath(m_addressBookPath);
    return book;
}

QString DavServer::caFile() const
{
    return m_options.tls ? m_dir.filePath("ca.pem") : QString();
}

// Killed rather than asked to end: both servers take well over a second to shut down
// gracefully, and nothing in the throwaway folder needs to be kept.
void DavServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}

bool DavServer::start()
{
    const QString program = QStandardPaths::findExecutable(programName(m_options.kind));
    if (program.isEmpty()) {
        m_why = programName(m_options.kind) + " is not installed";
        return false;
    }
    if (m_options.tls && !makeCertificates())
        return false;
    m_process.setStandardOutputFile(m_dir.filePath(LogName), QIODevice::Append);
    m_process.setStandardErrorFile(m_dir.filePath(LogName), QIODevice::Append);
    // The server dies with the test program, even when that crashes.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });

    // Another process may take the free port before the server binds it: then try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        QStringList arguments;
        if (m_options.kind == Kind::Radicale) {
            if (!writeRadicaleConfig())
                return false;
            m_addressBookPath = "/" + QString::fromLatin1(QUrl::toPercentEncoding(m_options.user)) + "/contacts/";
            arguments = {"-C", m_dir.filePath("radicale.conf")};
        } else {
            // --defaults makes the principal /user/ with the address book below.
            m_addressBookPath = "/user/contacts/addressbook/";
            arguments = {"--defaults", "-d", m_dir.filePath("data"), "-l", "127.0.0.1", "-p", QString::number(m_port)};
        }
        m_process.start(program, arguments);
        if (!m_process.waitForStarted()) {
            m_why = program + " did not start: " + m_process.errorString();
            return false;
        }
        if (waitUntilAnswering())
            return prepareAddressBook();
        if (m_process.state() == QProcess::Running) {
            stop();
            m_why = programName(m_options.kind) + " did not answer within 15 s: " + logTail();
            return false;
        }
    }
    m_why = programName(m_options.kind) + " stopped at start: " + logTail();
    return false;
}

bool DavServer::writeRadicaleConfig()
{
    QFile users(m_dir.filePath("users"));
    if (!users.open(QIODevice::WriteOnly) ||
        users.write((m_options.user + ':' + m_options.password + '\n').toUtf8()) < 0) {
        m_why = "cannot write the password file";
        return false;
    }
    // Every section is given in full: the system's own configuration is not read with -C,
    // and the test must not depend on it anyway.
    const QString config = QString("[server]\nhosts = 127.0.0.1:%1\nssl = %2\ncertificate = %3\nkey = %4\n"
                                   "[auth]\ntype = htpasswd\nhtpasswd_filename = %5\n"
                                   "htpasswd_encryption = plain\ndelay = 0\n"
                                   "[rights]\ntype = owner_only\n"
                                   "[storage]\nfilesystem_folder = %6\n"
                                   "[web]\ntype = none\n")
                               .arg(m_port)
                               .arg(m_options.tls ? "True" : "False", m_dir.filePath("server.pem"),
                                    m_dir.filePath("server.key"), users.fileName(), m_dir.filePath("collections"));
    QFile file(m_dir.filePath("radicale.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        m_why = "cannot write the radicale configuration";
        return false;
    }
    return true;
}

// A CA of its own and a certificate for 127.0.0.1 that it signed.
bool DavServer::makeCertificates()
{
    if (QStandardPaths::findExecutable("openssl").isEmpty()) {
        m_why = "openssl is not installed";
        return false;
    }
    const QStringList newKey = {"req",    "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                "-nodes", "-days", "2"};
    m_why = runToEnd("openssl", newKey + QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Test CA"},
                     m_dir.path());
    if (m_why.isEmpty())
        m_why =
            runToEnd("openssl",
                     newKey + QStringList{"-keyout", "server.key", "-out", "server.pem", "-subj", "/CN=127.0.0.1",
                                          "-CA", "ca.pem", "-CAkey", "ca.key", "-addext", "subjectAltName=IP:127.0.0.1",
                                          "-addext", "basicConstraints=critical,CA:FALSE"},
                     m_dir.path());
    return m_why.isEmpty();
}

// Until the server answers an OPTIONS; false when it stopped or kept silent.
bool DavServer::waitUntilAnswering()
{
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (send("OPTIONS", "/") == 200)
            return true;
        m_process.waitForFinished(50);
        if (m_process.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

bool DavServer::prepareAddressBook()
{
    if (m_options.kind == Kind::Xandikos) {
        const int status = send("PROPFIND", m_addressBookPath, "Depth: 0");
        if (status != 207)
            m_why = QString("xandikos answered %1 for its address book").arg(status);
        return status == 207;
    }
    const QByteArray mkcol = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                             "<d:mkcol xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:set><d:prop>"
                             "<d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>"
                             "<d:displayname>Contacts</d:displayname>"
                             "</d:prop></d:set></d:mkcol>";
    const int status = send("MKCOL", m_addressBookPath, "Content-Type: application/xml; charset=utf-8", mkcol);
    if (status != 201)
        m_why = QString("radicale answered %1 to the making of the address book: %2").arg(status).arg(logTail());
    return status == 201;
}

// One request; the answer's status code, 0 when none came.
int DavServer::send(const QByteArray &method, const QString &path, const QByteArray &header, const QByteArray &body)
{
    HttpClient client({m_options.user, m_options.password, caFile(), 5});
    HttpClient::Headers headers;
    if (const qsizetype colon = header.indexOf(':'); colon > 0)
        headers.append({header.left(colon), header.mid(colon + 1).trimmed()});
    try {
        return client.request(method, url().resolved(QUrl(path)), headers, body).status;
    } catch (const std::exception &) {
        return 0;
    }
}

QString DavServer::logTail() const
{
    QFile log(m_dir.filePath(LogName));
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(log.readAll().right(2000)).trimmed();
}
