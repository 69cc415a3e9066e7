#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "format/expected.h"

namespace varko::host {

/// The bytes as text when they are valid UTF-8 and `malformed` otherwise, where the platform's
/// strict decoding answers nil.
[[nodiscard]] Expected<QString> decodeUtf8Strictly(const QByteArray& bytes);

/// Text a stranger controls, made fit for one line of a report: control characters
/// become their visible pictures (a line feed shows as U+240A), and line separators
/// and direction overrides show as <U+XXXX>, so the text cannot start a line of its
/// own or disguise what follows it.
[[nodiscard]] QString visibleControls(QStringView text);

}  // namespace varko::host
