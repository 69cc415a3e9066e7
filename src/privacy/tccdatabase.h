#pragma once

// The `access` table of a Mac's privacy database (TCC.db), read without changing, locking or
// journalling the file. Layouts, from macOS's own databases as published:
//   macOS 11 and later: service, client, client_type, auth_value, auth_reason, auth_version,
//     csreq, policy_id, indirect_object_identifier_type, indirect_object_identifier,
//     indirect_object_code_identity, flags, last_modified (and more columns since 14).
//   macOS 10.14 and 10.15: allowed and prompt_count in place of the auth_ columns.
//   macOS 10.13 and earlier: the same without the indirect object columns and last_modified.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "format/expected.h"

namespace varko::privacy {

/// client_type: how a row names its client.
inline constexpr std::int64_t clientBundleIdentifier = 0;
inline constexpr std::int64_t clientPath = 1;

/// auth_value, as the EndpointSecurity framework's es_tcc_authorization_right_t numbers it;
/// the older `allowed` column's 0 and 1 are read as denied and allowed.
inline constexpr std::int64_t authDenied = 0;
inline constexpr std::int64_t authUnknown = 1;
inline constexpr std::int64_t authAllowed = 2;
inline constexpr std::int64_t authLimited = 3;

/// What no real database comes near: one holds a few hundred rows, each csreq a few hundred
/// bytes; a service, client or target is a name or a path.
inline constexpr std::size_t maxTccRows = 100000;
inline constexpr std::size_t maxCsreqBytes = 64 * 1024;
inline constexpr std::size_t maxTccTextBytes = 4096;

/// Which layout the `access` table has.
enum class TccSchema {
    current,  ///< auth_value and auth_reason (macOS 11 and later)
    allowed,  ///< the older `allowed` column (macOS 10.15 and earlier)
};

/// One row of `access`, as stored. Unknown numbers are kept as they are.
struct TccRow {
    std::string service;  ///< kTCCService…
    std::string client;   ///< a bundle identifier or an absolute path, by clientType
    std::int64_t clientType = clientBundleIdentifier;
    std::int64_t authValue = authUnknown;
    std::optional<std::int64_t> authReason;  ///< none in the older layout
    /// The compiled code requirement the client was granted with; none when NULL.
    std::optional<std::vector<std::byte>> csreq;
    std::optional<std::int64_t> lastModified;  ///< seconds since 1970; none when absent
    /// For Apple events, the app the client may send them to; empty for other services, or
    /// where the row says "UNUSED".
    std::string indirectObject;
};

struct TccDatabase {
    TccSchema schema = TccSchema::current;
    std::vector<TccRow> rows;
    /// A write-ahead log lies beside the file: rows still in it are not read.
    bool walBeside = false;
};

/// Reads every row of the `access` table of the SQLite database at `path`, opened read-only
/// and immutable so that nothing on disk changes and no journal appears. Refuses a file
/// that is no SQLite database, has no `access` table of either layout, holds a value of the
/// wrong type or past the bounds above, or more than maxTccRows rows, with words that say
/// why. A file that can't be opened for want of permission fails with ErrorCode::refused.
[[nodiscard]] Expected<TccDatabase> readTccDatabase(const std::filesystem::path& path);

/// The `file:` URI that names `path` to SQLite, with every byte outside the unreserved set
/// and '/' percent-encoded, so that '?', '#' and '%' in a name stay part of it.
[[nodiscard]] std::string sqliteFileUri(const std::filesystem::path& path);

}  // namespace varko::privacy
