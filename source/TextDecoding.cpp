#include "source/TextDecoding.h"

#include <QIODevice>
#include <QString>

namespace {

// Windows-1252 characters 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isAscii(const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] & 0x80)
            return false;
    return true;
}

} // namespace

std::optional<QStringDecoder> skipByteOrderMark(QIODevice &in)
{
    const QByteArray mark = in.peek(3);
    std::optional<QStringDecoder> utf16;
    if (mark.startsWith("\xEF\xBB\xBF")) {
        in.skip(3);
    } else if (mark.startsWith("\xFF\xFE") || mark.startsWith("\xFE\xFF")) {
        utf16.emplace(mark.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        in.skip(2);
    }
    return utf16;
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = size_t(bytes.size());
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        unsigned int cp = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static constexpr unsigned int minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

void RecordText::append(qsizetype from, qsizetype to, QString &out) const
{
    const auto *p = reinterpret_cast<const unsigned char *>(m_bytes.data()) + from;
    const size_t n = size_t(to - from);
    if (isAscii(p, n)) {
        out.append(QLatin1StringView(reinterpret_cast<const char *>(p), qsizetype(n)));
    } else if (m_utf8) {
        out.append(QString::fromUtf8(reinterpret_cast<const char *>(p), qsizetype(n)));
    } else {
        const qsizetype at = out.size();
        out.resize(at + qsizetype(n));
        QChar *dst = out.data() + at;
        for (size_t i = 0; i < n; ++i)
            dst[i] = (p[i] >= 0x80 && p[i] < 0xA0) ? QChar(kCp1252High[p[i] - 0x80]) : QChar(char16_t(p[i]));
    }
}
