#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

// A CardDAV server of its own for one test: started on 127.0.0.1 on a free port in a
// temporary folder, stopped (and its folder removed) when this goes.
class DavServer {
public:
    enum class Kind { Radicale, Xandikos };
    struct Options {
        Kind kind = Kind::Radicale;
        // Xandikos has no authentication of its own: it accepts any user and password.
        QString user = "ann";
        QString password = "s3cret";
        bool tls = false; // Radicale only
    };

    explicit DavServer(Options options);
    ~DavServer();
    DavServer(const DavServer &) = delete;
    DavServer &operator=(const DavServer &) = delete;

    bool running() const; // false (with why() saying why) when it could not start or was stopped
    QString why() const;
    QUrl url() const;            // the server's root
    QUrl addressBookUrl() const; // an address book made at start
    QString caFile() const;      // with tls: the PEM of the CA that signed the server's certificate
    void stop();                 // kills the process at once

private:
    bool start();
    bool writeRadicaleConfig();
    bool makeCertificates();
    bool waitUntilAnswering();
    bool prepareAddressBook();
    int send(const QByteArray &method, const QString &path, const QByteArray &header = {},
             const QByteArray &body = {});
    QString logTail() const;

    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_why;
    quint16 m_port = 0;
    QString m_addressBookPath;
};
