#include "systools/log/textformat.h"

#include <cstdio>

#include "systools/log/timeformat.h"

namespace varko::logtool {

namespace {

/// The record's texts are valid UTF-8 already; only control characters need replacing.
void appendShown(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7F)
            out += "\xEF\xBF\xBD";
        else
            out += c;
    }
}

}  // namespace

void appendTextHeader(std::string& out) {
    out +=
        "Timestamp                       Thread     Type        Activity             PID    TTL  "
        "\n";
}

void appendTextEntry(std::string& out, const LogRecord& r) {
    out += formatTimestamp(r.timestampUsec);
    char columns[96];
    std::snprintf(columns, sizeof columns, " 0x%-8llx %-11s 0x%-18x %-6lld %-4d ",
                  static_cast<unsigned long long>(r.threadID), messageTypeName(r.messageType), 0u,
                  static_cast<long long>(r.processID), 0);
    out += columns;
    const std::string_view path = r.processImagePath;
    const std::size_t slash = path.rfind('/');
    appendShown(out, slash == std::string_view::npos ? path : path.substr(slash + 1));
    out += ": ";
    if (!r.subsystem.empty() || !r.category.empty()) {
        out += '[';
        appendShown(out, r.subsystem);
        out += ':';
        appendShown(out, r.category);
        out += "] ";
    }
    appendShown(out, r.eventMessage);
    out += '\n';
}

}  // namespace varko::logtool
