#include "systools/log/journalreader.h"

#include <fcntl.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "systools/log/utf8.h"

namespace varko::logtool {

namespace {

[[nodiscard]] std::string describe(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

enum class Field {
    SourceRealtime,
    Thread,
    Priority,
    Transport,
    Pid,
    Executable,
    Command,
    SyslogIdentifier,
    Subsystem,
    Category,
    Message,
    Count
};

/// The fields of the current entry that are mapped, each as its first occurrence says, as
/// asking by name does. They are read in one pass: asking by name decompresses each
/// compressed field once per name asked, and on that path libsystemd grows its buffer without
/// bound for a broken compressed field, where enumerating keeps to the data threshold. A field
/// that cannot be read ends the pass, since libsystemd would offer it again.
struct EntryFields {
    std::array<std::optional<std::string>, std::size_t(Field::Count)> values;

    static EntryFields read(sd_journal* j) {
        static constexpr std::pair<std::string_view, Field> names[] = {
            {"_SOURCE_REALTIME_TIMESTAMP", Field::SourceRealtime},
            {"TID", Field::Thread},
            {"PRIORITY", Field::Priority},
            {"_TRANSPORT", Field::Transport},
            {"_PID", Field::Pid},
            {"_EXE", Field::Executable},
            {"_COMM", Field::Command},
            {"SYSLOG_IDENTIFIER", Field::SyslogIdentifier},
            {"SUBSYSTEM", Field::Subsystem},
            {"CATEGORY", Field::Category},
            {"MESSAGE", Field::Message},
        };
        EntryFields fields;
        const void* data = nullptr;
        std::size_t length = 0;
        sd_journal_restart_data(j);
        while (sd_journal_enumerate_available_data(j, &data, &length) > 0 && data != nullptr) {
            const std::string_view whole(static_cast<const char*>(data), length);
            const std::size_t equals = whole.find('=');
            if (equals == std::string_view::npos) continue;
            const std::string_view name = whole.substr(0, equals);
            for (const auto& [known, field] : names) {
                auto& slot = fields.values[std::size_t(field)];
                if (name != known || slot) continue;
                // The data goes away with the next field. Past the largest cap, a few bytes
                // more than it tell sanitizeUtf8 that the text goes on.
                slot.emplace(whole.substr(equals + 1, JournalReader::maxMessageBytes + 8));
                break;
            }
        }
        return fields;
    }

    [[nodiscard]] std::optional<std::string_view> value(Field field) const {
        const auto& slot = values[std::size_t(field)];
        return slot ? std::optional<std::string_view>(*slot) : std::nullopt;
    }

    /// The value as valid UTF-8, at most `cap` bytes; empty when absent.
    [[nodiscard]] std::string text(Field field, std::size_t cap) const {
        const auto v = value(field);
        return v ? sanitizeUtf8(*v, cap) : std::string();
    }
};

/// Plain decimal digits only: journal fields are text that anyone may have sent.
template <typename Number>
[[nodiscard]] std::optional<Number> decimal(std::optional<std::string_view> value) {
    if (!value || value->empty() || value->size() > 20 || value->front() == '-')
        return std::nullopt;
    Number n{};
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), n);
    if (ec != std::errc() || end != value->data() + value->size()) return std::nullopt;
    return n;
}

/// The sequence number inside a cursor ("s=…;i=HEX;…"), which orders entries of one file.
[[nodiscard]] std::uint64_t sequenceNumber(sd_journal* j) {
    char* cursor = nullptr;
    if (sd_journal_get_cursor(j, &cursor) < 0 || cursor == nullptr) return 0;
    const std::string_view c(cursor);
    std::uint64_t n = 0;
    const std::size_t at = c.find(";i=");
    if (at != std::string_view::npos) {
        const char* begin = cursor + at + 3;
        std::from_chars(begin, cursor + c.size(), n, 16);
    }
    std::free(cursor);
    return n;
}

[[nodiscard]] std::string uuidText(const sd_id128_t& id) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[id.bytes[i] >> 4];
        out += hex[id.bytes[i] & 0xF];
    }
    return out;
}

}  // namespace

void JournalReader::Closer::operator()(sd_journal* j) const {
    sd_journal_close(j);
}

Expected<JournalReader> JournalReader::open(const JournalSource& source) {
    sd_journal* j = nullptr;
    int r = 0;
    std::string what = "the system journal";
    if (!source.files.empty()) {
        std::vector<const char*> paths;
        for (const std::string& file : source.files) {
            // libsystemd skips some unreadable files silently; a named file must exist.
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                return Error{
                    0, "no readable systemd journal (" + file + ": " + std::strerror(errno) + ")",
                    ErrorCode::unreadable};
            }
            ::close(fd);
            paths.push_back(file.c_str());
        }
        paths.push_back(nullptr);
        what = source.files.size() == 1 ? source.files.front() : "the given files";
        r = sd_journal_open_files(&j, paths.data(), 0);
    } else if (!source.directory.empty()) {
        what = source.directory;
        r = sd_journal_open_directory(&j, source.directory.c_str(), 0);
    } else {
        r = sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY);
    }
    if (r < 0) {
        return Error{0, "no readable systemd journal (" + what + ": " + describe(r) + ")",
                     ErrorCode::unreadable};
    }
    JournalReader reader(j);
    // Named files were each opened above. libsystemd counts only files under /var and /run
    // as persistent or runtime, so a folder's files are counted by their disk usage.
    std::uint64_t bytes = 0;
    const bool none =
        source.files.empty() &&
        (source.directory.empty()
             ? sd_journal_has_persistent_files(j) <= 0 && sd_journal_has_runtime_files(j) <= 0
             : sd_journal_get_usage(j, &bytes) < 0 || bytes == 0);
    if (none) {
        return Error{
            0,
            "no readable systemd journal (" + what + ": no journal files" +
                (source.directory.empty()
                     ? " under /var/log/journal or /run/log/journal that this user may read"
                     : " found") +
                ")",
            ErrorCode::missing};
    }
    // Fields past this may come back cut short; we cap what we keep well below it anyway.
    sd_journal_set_data_threshold(j, maxMessageBytes);
    return reader;
}

Expected<std::uint64_t> JournalReader::current(LogRecord& record) {
    sd_journal* j = journal.get();
    std::uint64_t storedUsec = 0;
    if (sd_journal_get_realtime_usec(j, &storedUsec) < 0)
        return Error{0, "the entry has no time", ErrorCode::malformed};
    record = LogRecord();
    const EntryFields fields = EntryFields::read(j);
    const auto source = decimal<std::uint64_t>(fields.value(Field::SourceRealtime));
    record.timestampUsec = source ? *source : storedUsec;
    std::uint64_t monotonic = 0;
    sd_id128_t boot{};
    if (sd_journal_get_monotonic_usec(j, &monotonic, &boot) >= 0) {
        record.machTimestamp = monotonic <= UINT64_MAX / 1000 ? monotonic * 1000 : UINT64_MAX;
        record.bootUUID = uuidText(boot);
    }
    record.traceID = sequenceNumber(j);
    record.threadID = decimal<std::uint64_t>(fields.value(Field::Thread)).value_or(0);

    const auto priority = decimal<int>(fields.value(Field::Priority));
    record.messageType =
        priority && *priority <= 7 ? messageTypeForPriority(*priority) : MessageType::Default;
    if (fields.value(Field::Transport) == std::optional<std::string_view>("kernel")) {
        record.processID = 0;
        record.processImagePath = "/kernel";
    } else {
        const auto pid = decimal<std::int64_t>(fields.value(Field::Pid));
        record.processID = pid && *pid <= INT32_MAX ? *pid : 0;
        for (const Field name : {Field::Executable, Field::Command, Field::SyslogIdentifier}) {
            record.processImagePath = fields.text(name, maxFieldBytes);
            if (!record.processImagePath.empty()) break;
        }
    }
    record.subsystem = fields.text(Field::Subsystem, maxFieldBytes);
    record.category = fields.text(Field::Category, maxFieldBytes);
    record.eventMessage = fields.text(Field::Message, maxMessageBytes);
    return storedUsec;
}

Expected<void> JournalReader::read(const JournalFilter& filter,
                                   const std::function<bool(const LogRecord&)>& emit) {
    sd_journal* j = journal.get();
    const int seek = filter.startUsec ? sd_journal_seek_realtime_usec(j, *filter.startUsec)
                                      : sd_journal_seek_head(j);
    if (seek < 0)
        return Error{0, "cannot seek in the journal: " + describe(seek), ErrorCode::unreadable};
    LogRecord record;
    for (;;) {
        const int r = sd_journal_next(j);
        if (r == 0) return {};
        if (r < 0)
            return Error{0, "reading the journal failed: " + describe(r), ErrorCode::unreadable};
        // An entry without a time can't be placed or filtered: it is passed over.
        const auto stored = current(record);
        if (!stored) continue;
        const std::uint64_t storedUsec = *stored;
        if (filter.endUsec && storedUsec > *filter.endUsec &&
            storedUsec - *filter.endUsec > endSlackUsec)
            return {};
        if (filter.startUsec && record.timestampUsec < *filter.startUsec) continue;
        if (filter.endUsec && record.timestampUsec > *filter.endUsec) continue;
        if (record.messageType == MessageType::Info && !filter.info) continue;
        if (record.messageType == MessageType::Debug && !filter.debug) continue;
        if (filter.predicate && !filter.predicate->matches(record)) continue;
        if (!emit(record)) return {};
    }
}

}  // namespace varko::logtool
