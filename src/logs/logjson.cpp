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

// Walks a slice of a large array as an array of its own, from a copy with the
// brackets that make it one; the copy also gives the parser its padding.
bool walkSlice(ondemand::parser& parser, std::string& scratch, const LogSlice& slice,
               const LogElementVisitor& visit) {
    scratch.clear();
    scratch.reserve(slice.text.size() + 2 + SIMDJSON_PADDING);
    if (slice.needsOpening) scratch += '[';
    scratch += slice.text;
    if (slice.needsClosing) scratch += ']';
    return walkDocument(parser, scratch.data(), scratch.size(), scratch.capacity(), visit);
}

}  // namespace

std::vector<LogSlice> logArraySlices(std::string_view json) {
    std::vector<LogSlice> slices;
    std::size_t begin = 0;
    while (begin < json.size() && std::isspace(static_cast<unsigned char>(json[begin]))) ++begin;
    if (json.size() - begin <= 2 * logSliceBytes || json[begin] != '[') return slices;
    bool opening = false;  // the first slice keeps the document's own bracket
    while (true) {
        std::size_t cut = std::string_view::npos;
        if (json.size() - begin > 2 * logSliceBytes) {
            const std::size_t at = json.find("},{", begin + logSliceBytes);
            if (at != std::string_view::npos) cut = at + 1;  // the comma
        }
        if (cut == std::string_view::npos) {
            // The last slice ends with the document's own bracket and whatever follows it.
            slices.push_back({json.substr(begin), opening, false});
            return slices;
        }
        slices.push_back({json.substr(begin, cut - begin), opening, true});
        begin = cut + 1;
        opening = true;
    }
}

bool walkLogSlice(const LogSlice& slice, const LogElementVisitor& visit) {
    ondemand::parser parser;
    std::string scratch;
    return walkSlice(parser, scratch, slice, visit);
}

bool walkLogArray(QByteArray& json, const LogElementVisitor& visit, const std::function<void()>& restart) {
    if (json.size() > qsizetype(SIMDJSON_MAXSIZE_BYTES) - qsizetype(SIMDJSON_PADDING)) return false;
    const auto length = std::size_t(json.size());
    ondemand::parser parser;
    const std::vector<LogSlice> slices = logArraySlices(std::string_view(json.constData(), length));
    if (!slices.empty()) {
        std::string scratch;
        bool ok = true;
        for (const LogSlice& slice : slices) {
            if (!walkSlice(parser, scratch, slice, visit)) {
                ok = false;
                break;
            }
        }
        if (ok) return true;
        if (restart) restart();
    }
    return walkWholeLogArray(json, visit);
}

bool walkWholeLogArray(QByteArray& json, const LogElementVisitor& visit) {
    if (json.size() > qsizetype(SIMDJSON_MAXSIZE_BYTES) - qsizetype(SIMDJSON_PADDING)) return false;
    const auto length = std::size_t(json.size());
    json.reserve(json.size() + qsizetype(SIMDJSON_PADDING));
    if (std::size_t(json.capacity()) < length + SIMDJSON_PADDING) return false;
    ondemand::parser parser;
    return walkDocument(parser, json.constData(), length, std::size_t(json.capacity()), visit);
}

}  // namespace varko::logs
