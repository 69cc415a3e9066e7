#include "systools/log/jsonformat.h"

#include "systools/log/timeformat.h"
#include "systools/log/utf8.h"

namespace varko::logtool {

namespace {

constexpr std::string_view noUUID = "00000000-0000-0000-0000-000000000000";

void appendKey(std::string& out, std::string_view key) {
    out += "  \"";
    out += key;  // our own keys need no escaping
    out += "\" : ";
}

void appendText(std::string& out, std::string_view key, std::string_view value) {
    appendKey(out, key);
    appendJsonString(out, value);
    out += ",\n";
}

template <typename Number>
void appendNumber(std::string& out, std::string_view key, Number value, bool last = false) {
    appendKey(out, key);
    out += std::to_string(value);
    out += last ? "\n" : ",\n";
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t pos = 0; pos < text.size();) {
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c >= 0x80) {
            const Utf8Step step = decodeUtf8(text, pos);
            if (step.valid)
                out.append(text.substr(pos, step.length));
            else
                out += "\xEF\xBF\xBD";
            pos += step.length;
            continue;
        }
        ++pos;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += char(c);
                }
        }
    }
    out += '"';
}

void appendJsonEntry(std::string& out, const LogRecord& r, bool first) {
    out += first ? "[{\n" : ",{\n";
    appendNumber(out, "traceID", r.traceID);
    appendText(out, "eventMessage", r.eventMessage);
    appendText(out, "eventType", "logEvent");
    out += "  \"source\" : null,\n";
    // The journal keeps no format strings; the message is one public string argument.
    appendText(out, "formatString", "%{public}s");
    appendNumber(out, "activityIdentifier", 0);
    appendText(out, "subsystem", r.subsystem);
    appendText(out, "category", r.category);
    appendNumber(out, "threadID", r.threadID);
    appendText(out, "senderImageUUID", noUUID);
    out += "  \"backtrace\" : {\n    \"frames\" : [\n\n    ]\n  },\n";
    appendText(out, "bootUUID", r.bootUUID);
    appendText(out, "processImagePath", r.processImagePath);
    appendText(out, "timestamp", formatTimestamp(r.timestampUsec));
    appendText(out, "senderImagePath", r.processImagePath);
    appendNumber(out, "machTimestamp", r.machTimestamp);
    appendText(out, "messageType", messageTypeName(r.messageType));
    appendText(out, "processImageUUID", noUUID);
    appendNumber(out, "processID", r.processID);
    appendNumber(out, "senderProgramCounter", 0);
    appendNumber(out, "parentActivityIdentifier", 0);
    appendKey(out, "timezoneName");
    out += "\"\"\n}";
}

void appendJsonEnd(std::string& out, bool anyEntries) {
    out += anyEntries ? "]\n" : "[\n\n]\n";
}

}  // namespace varko::logtool
