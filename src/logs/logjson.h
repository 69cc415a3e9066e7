#pragma once

#include <QByteArray>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace varko::logs {

/// The four keys of one entry object that the log browser reads. A key that is
/// absent or whose value is not text is nothing, as if it were absent. The views
/// point into the parser's buffers and live only during the callback.
struct LogFields {
    std::optional<std::string_view> timestamp;
    std::optional<std::string_view> subsystem;
    std::optional<std::string_view> processImagePath;
    std::optional<std::string_view> eventMessage;
};

/// Called once per element of the top-level array, in order: with the fields of
/// an object, or with null for an element that is not an object.
using LogElementVisitor = std::function<void(const LogFields* object)>;

/// Walks the log tool's JSON output. Returns false when the bytes are not JSON or
/// not an array at the top level; the visitor may have been called for elements
/// before the fault was found, so callers that need all-or-nothing undo on false.
/// `restart`, when given, is called before the walk starts over from the first
/// element, which a large document with an odd layout may need.
/// `json` is taken by reference because the parser needs padding behind the data,
/// which is reserved in place rather than copying a document of gigabytes.
[[nodiscard]] bool walkLogArray(QByteArray& json, const LogElementVisitor& visit,
                                const std::function<void()>& restart = {});

/// The same walk without slices, for a large document whose slices did not parse.
[[nodiscard]] bool walkWholeLogArray(QByteArray& json, const LogElementVisitor& visit);

/// A run of whole elements of a large top-level array. Slices are cut only at
/// "},{"; a cut that is not between two elements leaves a slice with an open
/// string or bracket, which cannot parse, and then the document is walked whole.
/// Parsing in slices keeps the parser's index small and lets slices go in parallel.
struct LogSlice {
    std::string_view text;
    bool needsOpening = false;  ///< an array bracket goes before `text`
    bool needsClosing = false;  ///< and one after it
};

inline constexpr std::size_t logSliceBytes = std::size_t(2) << 20;

/// The slices of `json`, in order; none for a document too small to need them or
/// one that does not start as an array.
[[nodiscard]] std::vector<LogSlice> logArraySlices(std::string_view json);

/// Walks the elements of one slice; false when it is not well formed.
[[nodiscard]] bool walkLogSlice(const LogSlice& slice, const LogElementVisitor& visit);

}  // namespace varko::logs
