// Reads arbitrary bytes as a contact card, and writes what it read back out.
#include "core/AppError.h"
#include "platform/ContactCard.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const vcardstore::CardContents card = vcardstore::readCard(bytes);
        const QByteArray again = vcardstore::cardFromContact(card.uid, card.data, card.foreign);
        vcardstore::readCard(again);
    } catch (const AppError &) {
    }
    return 0;
}
