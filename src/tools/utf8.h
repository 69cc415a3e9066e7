#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace varko::tools {

/// The bytes as text when they are valid UTF-8 and nothing otherwise, as the
/// platform's strict decoding answers nil.
[[nodiscard]] std::optional<QString> decodeUtf8Strictly(const QByteArray& bytes);

}  // namespace varko::tools
