#include "logs/logjson.h"

#include <simdjson.h>

#include <cctype>

namespace varko::logs {

namespace {

using namespace simdjson;

// Takes the text of a value; anything but a string counts as missing.
bool readText(ondemand::value& value, std::optional<std::string_view>& into) {
    ondemand::json_type type;
    if (value.type().get(type) != SUCCESS) return false;
    if (type != ondemand::json_type::string) {
        into.reset();  // a later duplicate that isn't text hides an earlier one
        return true;
    }
    std::string_view text;
    if (value.get_string().get(text) != SUCCESS) return false;
    into = text;
    return true;
}

bool readObject(ondemand::object object, LogFields& fields) {
    for (auto field : object) {
        std::string_view key;
        if (field.unescaped_key().get(key) != SUCCESS) return false;
        ondemand::value value;
        if (field.value().get(value) != SUCCESS) return false;
        std::optional<std::string_view>* slot = nullptr;
        if (key == "timestamp") slot = &fields.timestamp;
        else if (key == "subsystem") slot = &fields.subsystem;
        else if (key == "processImagePath") slot = &fields.processImagePath;
        else if (key == "eventMessage") slot = &fields.eventMessage;
        // Duplicate keys: the last one wins, as in a dictionary built from the object.
        if (slot != nullptr && !readText(value, *slot)) return false;
        // Unread values are skipped by the parser, which still checks their structure.
    }
    return true;
}

// A skipped element must still be well formed; nested arrays are checked for
// structure when the parser steps over them.
bool checkScalar(ondemand::value& value, ondemand::json_type type) {
    switch (type) {
    case ondemand::json_type::number: return value.get_number().error() == SUCCESS;
    case ondemand::json_type::string: return value.get_string().error() == SUCCESS;
    case ondemand::json_type::boolean: return value.get_bool().error() == SUCCESS;
    case ondemand::json_type::null: return value.is_null().value_unsafe();
    default: return true;
    }
}

// Walks one whole document, which must be an array.
bool walkDocument(ondemand::parser& parser, const char* data, std::size_t length, std::size_t capacity,
                  const LogElementVisitor& visit) {
    ondemand::document document;
    if (parser.iterate(data, length, capacity).get(document) != SUCCESS) return false;
    ondemand::array array;
    if (document.get_array().get(array) != SUCCESS) return false;
    for (auto element : array) {
        ondemand::value value;
        if (element.get(value) != SUCCESS) return false;
        ondemand::json_type type;
        if (value.type().get(type) != SUCCESS) return false;
        if (type != ondemand::json_type::object) {
            if (!checkScalar(value, type)) return false;
            visit(nullptr);
            continue;
        }
        ondemand::object object;
        if (value.get_object().get(object) != SUCCESS) return false;
        LogFields fields;
        if (!readObject(object, fields)) return false;
        visit(&fields);
    }
    // Text after the closing bracket makes the whole document invalid.
    return document.current_location().error() == OUT_OF_BOUNDS;
}

constexpr std::size_t chunkBytes = std::size_t(2) << 20;

// A large array is parsed in slices of whole elements, each made an array of its
// own by writing brackets over the commas between them, so the parser's index
// stays small and warm instead of spanning gigabytes. A slice is cut only at
// "},{"; a cut that is not between two elements leaves a slice with an open
// string or bracket, which cannot parse, and then the caller walks the document
// whole. Returns nothing when that happened.
std::optional<bool> walkInSlices(ondemand::parser& parser, QByteArray& json, const LogElementVisitor& visit) {
    char* const data = json.data();
    const auto length = std::size_t(json.size());
    std::size_t begin = 0;
    while (begin < length && std::isspace(static_cast<unsigned char>(data[begin]))) ++begin;
    if (begin == length || data[begin] != '[') return std::nullopt;
    while (true) {
        const char* cut = nullptr;
        if (length - begin > 2 * chunkBytes) {
            const std::string_view rest(data + begin + chunkBytes, length - begin - chunkBytes);
            const std::size_t at = rest.find("},{");
            if (at != std::string_view::npos) cut = rest.data() + at + 1;  // the comma
        }
        if (cut == nullptr) {
            // The last slice ends with the document's own bracket and whatever follows it.
            const char saved = data[begin];
            data[begin] = '[';
            const bool ok = walkDocument(parser, data + begin, length - begin, std::size_t(json.capacity()) - begin, visit);
            data[begin] = saved;
            return ok ? std::optional<bool>(true) : std::nullopt;
        }
        const auto end = std::size_t(cut - data);
        const char savedBegin = data[begin];
        data[begin] = '[';
        data[end] = ']';
        const bool ok = walkDocument(parser, data + begin, end + 1 - begin, std::size_t(json.capacity()) - begin, visit);
        data[begin] = savedBegin;
        data[end] = ',';
        if (!ok) return std::nullopt;
        begin = end;
    }
}

}  // namespace

bool walkLogArray(QByteArray& json, const LogElementVisitor& visit, const std::function<void()>& restart) {
    if (json.size() > qsizetype(SIMDJSON_MAXSIZE_BYTES) - qsizetype(SIMDJSON_PADDING)) return false;
    const auto length = std::size_t(json.size());
    json.reserve(json.size() + qsizetype(SIMDJSON_PADDING));
    if (std::size_t(json.capacity()) < length + SIMDJSON_PADDING) return false;

    ondemand::parser parser;
    if (length > 2 * chunkBytes) {
        if (const auto sliced = walkInSlices(parser, json, visit)) return *sliced;
        if (restart) restart();
    }
    return walkDocument(parser, json.constData(), length, std::size_t(json.capacity()), visit);
}

}  // namespace varko::logs
