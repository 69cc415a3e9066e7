#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

namespace varko {

/// The message in which a second start hands its items to the running Varko. It
/// comes from any process of the user's, so it is read as hostile: bounded, and
/// taken only whole and well formed.
///
///     "VARKO-OPEN/1\n"  u32 count  { u32 length  bytes }*count
///
/// Numbers are big-endian; each item is an absolute path as the system's bytes (a
/// name need not be UTF-8), without NUL. The receiver answers one byte, `ack`.
namespace handover {

inline constexpr QByteArrayView magic = "VARKO-OPEN/1\n";
inline constexpr quint32 maxItems = 256;
inline constexpr quint32 maxPathBytes = 4096;  // the system's PATH_MAX
inline constexpr qsizetype maxMessageBytes =
    magic.size() + 4 + qsizetype(maxItems) * (4 + maxPathBytes);
inline constexpr char ack = 'K';

/// The message for up to `maxItems` absolute paths (more are the caller's to split).
[[nodiscard]] QByteArray encode(const QStringList& paths);

/// What the bytes received so far make.
struct Decoded {
    enum class Status { Incomplete, Malformed, Complete };
    Status status = Status::Incomplete;
    QStringList items;  ///< only when Complete
};
[[nodiscard]] Decoded decode(QByteArrayView bytes);

}  // namespace handover

}  // namespace varko
