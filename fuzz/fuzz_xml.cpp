// Reads arbitrary bytes as an XML part of a workbook, token by token, with every value and text
// asked for. Anything malformed must end in AppError, never a crash, a hang or a leak.
#include "core/AppError.h"
#include "source/XmlScanner.h"

#include <QBuffer>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        QBuffer device;
        device.setData(reinterpret_cast<const char *>(data), qsizetype(size));
        device.open(QIODevice::ReadOnly);
        XmlScanner xml(device, QStringLiteral("part"), QStringLiteral("%1"));
        xml.namespaceId("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
        QString text;
        for (XmlScanner::Token token; (token = xml.next()) != XmlScanner::EndDocument;) {
            if (token == XmlScanner::StartElement)
                for (const XmlScanner::Attribute &a : xml.attributes())
                    XmlScanner::appendUtf8(text, a.value);
            else if (token == XmlScanner::Text)
                XmlScanner::appendUtf8(text, xml.text());
            if (text.size() > 1 << 20)
                text.clear();
        }
    } catch (const AppError &) {
    }
    return 0;
}
