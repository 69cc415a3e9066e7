#include "tools/pathbytes.h"

#include "format/utf8encode.h"

namespace varko::host {

namespace {

constexpr char16_t escapeBase = 0xDC00;

/// The length of the valid UTF-8 sequence at `i`, or 0; `c` is set to the character it holds.
qsizetype validSequence(QByteArrayView bytes, qsizetype i, char32_t& c) {
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    c = lead;
    if (lead < 0x80) return 1;
    qsizetype length = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, min = 0x10000;
    else
        return 0;
    if (i + length > bytes.size()) return 0;
    c = lead & (0x7F >> length);
    for (qsizetype k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (at(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not valid UTF-8.
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

QString pathFromSystem(QByteArrayView bytes) {
    // Character by character, as a scan converts every path it meets: a conversion call
    // for each would cost an allocation each.
    QString path;
    path.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t c = 0;
        if (const qsizetype n = validSequence(bytes, i, c)) {
            if (c < 0x10000) {
                path += QChar(char16_t(c));
            } else {
                path += QChar(QChar::highSurrogate(c));
                path += QChar(QChar::lowSurrogate(c));
            }
            i += n;
        } else {
            path += QChar(char16_t(escapeBase + static_cast<unsigned char>(bytes[i])));
            ++i;
        }
    }
    return path;
}

QByteArray pathToSystem(QStringView path) {
    QByteArray bytes;
    bytes.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        const bool pairs =
            QChar::isHighSurrogate(c) && i + 1 < path.size() && path[i + 1].isLowSurrogate();
        if (pairs) {
            appendUtf8(bytes, QChar::surrogateToUcs4(c, path[i + 1].unicode()));
            ++i;
        } else if (c >= escapeBase + 0x80 && c <= escapeBase + 0xFF) {
            bytes += char(c - escapeBase);
        } else if (QChar::isSurrogate(c)) {
            // A lone surrogate is no character: written as Qt writes it.
            bytes += path.sliced(i, 1).toUtf8();
        } else {
            appendUtf8(bytes, c);
        }
    }
    return bytes;
}

}  // namespace varko::host
