#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <memory>

// A blocking HTTP client for one server (libcurl), keeping its connection open between requests.
// Credentials go only to the server the client was made for: redirects are never followed.
// Certificates are checked against the system's store, or the CA file given.
class HttpClient {
public:
    struct Options {
        QString user;
        QString password;
        QString caFile;        // a PEM file of the CA that signs the server's certificate; empty: the system's
        int timeoutSeconds = 30; // per request, from connecting to the last byte
        qint64 maxAnswerBytes = qint64(64) << 20;
    };
    struct Response {
        int status = 0;
        QByteArray reason;
        QList<std::pair<QByteArray, QByteArray>> headers; // names in lower case
        QByteArray body;
        QByteArray header(const QByteArray &lowerCaseName) const;
    };
    using Headers = QList<std::pair<QByteArray, QByteArray>>;

    explicit HttpClient(Options options);
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // Sends one request. A failure to reach the server, a certificate refused, a timeout or an
    // answer past the size limit raise AppError naming the server and the reason.
    Response request(const QByteArray &method, const QUrl &url, const Headers &headers = {},
                     const QByteArray &body = QByteArray());

private:
    struct State;
    std::unique_ptr<State> m_state;
    Options m_options;
};
