#include "tools/utf8.h"

#include <algorithm>

#include <QStringDecoder>

namespace varko::tools {

std::optional<QString> decodeUtf8Strictly(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

QString visibleControls(QStringView text) {
    const auto hidden = [](char16_t c) {
        return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
               (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F || c == 0x061C;
    };
    if (std::none_of(text.begin(), text.end(), [&](QChar c) { return hidden(c.unicode()); })) return text.toString();
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!hidden(u)) {
            out += c;
        } else if (u < 0x20) {
            out += QChar(char16_t(0x2400 + u));
        } else if (u == 0x7F) {
            out += QChar(char16_t(0x2421));
        } else {
            out += QStringLiteral("<U+%1>").arg(uint(u), 4, 16, QLatin1Char('0')).toUpper();
        }
    }
    return out;
}

}  // namespace varko::tools
