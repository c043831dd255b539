#include "platform/HttpClient.h"

#include "core/AppError.h"

#include <curl/curl.h>

namespace {

// The number of a server that cannot be reached or refused what was sent.
constexpr qint32 kErrServer = 3151;

struct Transfer {
    HttpClient::Response *response;
    qint64 limit;
    bool tooLarge = false;
};

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t bytes = size * count;
    if (t->response->body.size() + qint64(bytes) > t->limit) {
        t->tooLarge = true;
        return 0; // stops the transfer
    }
    t->response->body.append(data, qsizetype(bytes));
    return bytes;
}

size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) { // a new answer (after a 100 Continue, say): only the last counts
        t->response->headers.clear();
        const QList<QByteArray> parts = line.split(' ');
        t->response->reason = parts.mid(2).join(' ');
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        t->response->headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    return size * count;
}

} // namespace

struct HttpClient::State {
    CURL *curl = nullptr;
};

QByteArray HttpClient::Response::header(const QByteArray &lowerCaseName) const
{
    for (const auto &[name, value] : headers)
        if (name == lowerCaseName)
            return value;
    return QByteArray();
}

HttpClient::HttpClient(Options options) : m_state(std::make_unique<State>()), m_options(std::move(options))
{
    static const bool initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    m_state->curl = initialized ? curl_easy_init() : nullptr;
    if (!m_state->curl)
        throw AppError(ErrorCode::CannotCreateObject, QStringLiteral("The HTTP client could not be started."));
}

HttpClient::~HttpClient()
{
    curl_easy_cleanup(m_state->curl);
}

HttpClient::Response HttpClient::request(const QByteArray &method, const QUrl &url, const Headers &headers,
                                         const QByteArray &body)
{
    CURL *curl = m_state->curl;
    Response response;
    Transfer transfer{&response, m_options.maxAnswerBytes};
    const QByteArray address = url.toEncoded();
    const QByteArray user = m_options.user.toUtf8();
    const QByteArray password = m_options.password.toUtf8();
    const QByteArray caFile = m_options.caFile.toLocal8Bit();
    curl_slist *list = nullptr;
    for (const auto &[name, value] : headers)
        list = curl_slist_append(list, (name + ": " + value).constData());
    list = curl_slist_append(list, "Expect:"); // no waiting for a 100 Continue
    char error[CURL_ERROR_SIZE] = {};

    curl_easy_reset(curl); // the connection stays open; the options start afresh
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(m_options.timeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(std::min(m_options.timeoutSeconds, 10)));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    if (!body.isEmpty() || method == "PUT" || method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    } else if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);

    const CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(list);
    const QString server = url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                                        QUrl::RemoveUserInfo)
                               .toString();
    if (transfer.tooLarge)
        throw AppError(kErrServer, QStringLiteral("The server %1 sent an answer larger than %2 MB; it was not read.")
                                       .arg(server, QString::number(m_options.maxAnswerBytes >> 20)));
    if (code != CURLE_OK) {
        QString reason = QString::fromUtf8(error[0] ? error : curl_easy_strerror(code));
        if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
            code == CURLE_SSL_CONNECT_ERROR)
            reason = QStringLiteral("its certificate was refused (%1)").arg(reason);
        throw AppError(kErrServer, QStringLiteral("The server %1 could not be reached: %2").arg(server, reason));
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.status = int(status);
    return response;
}
