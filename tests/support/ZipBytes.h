#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Zip files built member by member, for the damage no program writes: wrong checksums and sizes,
// members that overlap, parts inflating far past their size.
namespace ZipBytes {

struct Member {
    QString name;
    QByteArray data;
    bool deflate = true;
    // Changes to what the directory says of the member (0: as it is).
    quint32 crcXor = 0;
    qint64 sizeDelta = 0;
};

// The zip file holding the members in order. overlap: the last member's directory entry points
// at the first member's data.
QByteArray zip(const QList<Member> &members, bool overlap = false);

} // namespace ZipBytes
