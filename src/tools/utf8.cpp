#include "tools/utf8.h"

#include <QStringDecoder>

namespace varko::host {

Expected<QString> decodeUtf8Strictly(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return Error{0, "the text is not UTF-8", ErrorCode::malformed};
    return text;
}

QString visibleControls(QStringView text) {
    const auto control = [](char16_t c) {
        return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
               (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
               c == 0x200F || c == 0x061C;
    };
    // A byte of a file name that is not UTF-8 (see pathbytes.h): a low surrogate
    // that no high one precedes.
    const auto strayByte = [&](qsizetype i) {
        const char16_t c = text[i].unicode();
        return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
    };
    QString out;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        const bool stray = strayByte(i);
        if (!stray && !control(u)) continue;
        if (out.isEmpty()) out.reserve(text.size() + 16);
        out += text.sliced(copied, i - copied);
        copied = i + 1;
        if (stray)
            out += QStringLiteral("\\x") + QString::number(u - 0xDC00, 16).toUpper();
        else if (u < 0x20)
            out += QChar(char16_t(0x2400 + u));
        else if (u == 0x7F)
            out += QChar(char16_t(0x2421));
        else
            out += QStringLiteral("<U+%1>").arg(
                QString::number(u, 16).toUpper().rightJustified(4, u'0'));
    }
    if (copied == 0) return text.toString();
    out += text.sliced(copied);
    return out;
}

}  // namespace varko::host
