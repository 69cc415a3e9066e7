#include "app/handover.h"

#include <QtEndian>
#include <algorithm>
#include <vector>

#include "tools/pathbytes.h"

namespace varko {

namespace handover {

QByteArray encode(const QStringList& paths) {
    QByteArray items;
    quint32 count = 0;
    for (const QString& path : paths) {
        const QByteArray bytes = host::pathToSystem(path);
        // Such a path names nothing that could be opened; the receiver would refuse
        // the whole message for it.
        if (!bytes.startsWith('/') || bytes.size() > qsizetype(maxPathBytes) ||
            bytes.contains('\0'))
            continue;
        if (count == maxItems) break;
        char length[4];
        qToBigEndian(quint32(bytes.size()), length);
        items.append(length, 4).append(bytes);
        ++count;
    }
    char countBytes[4];
    qToBigEndian(count, countBytes);
    return magic.toByteArray() + QByteArray(countBytes, 4) + items;
}

Decoded decode(QByteArrayView bytes) {
    using Status = Decoded::Status;
    if (bytes.size() > maxMessageBytes) return {Status::Malformed, {}};
    const qsizetype head = std::min(bytes.size(), magic.size());
    if (bytes.first(head) != magic.first(head)) return {Status::Malformed, {}};
    qsizetype offset = magic.size();
    const auto number = [&bytes, &offset](quint32& value) {
        if (bytes.size() - offset < 4) return false;
        value = qFromBigEndian<quint32>(bytes.data() + offset);
        offset += 4;
        return true;
    };
    quint32 count = 0;
    if (!number(count)) return {};
    if (count > maxItems) return {Status::Malformed, {}};
    // Only the lengths are walked until all has arrived: a sender that trickles its
    // message costs a few steps per arrival, not a decoding of everything so far.
    std::vector<QByteArrayView> paths;
    paths.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        if (!number(length)) return {};
        if (length == 0 || length > maxPathBytes) return {Status::Malformed, {}};
        if (bytes.size() - offset < qsizetype(length)) return {};
        paths.push_back(bytes.sliced(offset, length));
        offset += length;
    }
    if (offset != bytes.size()) return {Status::Malformed, {}};
    QStringList items;
    for (const QByteArrayView path : paths) {
        if (!path.startsWith('/') || path.contains('\0')) return {Status::Malformed, {}};
        items << host::pathFromSystem(path);
    }
    return {Status::Complete, items};
}

}  // namespace handover

}  // namespace varko
