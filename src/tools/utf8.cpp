#include "tools/utf8.h"

#include <QStringDecoder>

namespace varko::tools {

std::optional<QString> decodeUtf8Strictly(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

}  // namespace varko::tools
