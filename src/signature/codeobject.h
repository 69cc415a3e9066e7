#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/codesig/superblob.h"
#include "format/macho/bytesource.h"
#include "format/macho/machofile.h"
#include "format/threadscope.h"
#include "signature/bundlelocator.h"

namespace varko::codesign {

/// A code directory's digest in its own hash type (the cdhash before it is cut), taken
/// while its page hashes streamed past.
struct DirectoryDigest {
    std::uint32_t slot = 0;
    std::vector<unsigned char> digest;
};

/// One slice of a main executable and its signature, if it has one.
struct CodeObject {
    std::filesystem::path executable;
    macho::Slice slice;
    std::optional<codesig::SuperBlob> signature;  ///< empty: not signed at all
    bool universal = false;
    std::vector<std::string> architectures;  ///< of every slice, in file order
    std::vector<DirectoryDigest>
        directoryDigests;  ///< of directories whose page hashes were left unread
    /// The file the signature was read from, kept open so that the code checked against it
    /// is that file's, whatever becomes of the path.
    std::shared_ptr<const macho::ByteSource> source;
    bool running = false;  ///< the slice a current Mac runs, of those in the file
};

/// The executables opened for one item, for the passes over it that load the same code
/// again (the tools run in this process, the overview, each component's check): a file's
/// descriptor and headers are given again only while its path still leads to the same file
/// unchanged (device, inode, size, modification and change times). Only files read whole
/// on open are kept, and at most `maxEntries`, each holding a descriptor. Made this
/// thread's by a Scope; without one, every load opens the file afresh.
class OpenedCode final {
public:
    static constexpr std::size_t maxEntries = 64;

    OpenedCode();
    ~OpenedCode();
    OpenedCode(const OpenedCode&) = delete;
    OpenedCode& operator=(const OpenedCode&) = delete;

    using Scope = ThreadScope<OpenedCode>;

    struct Entries;

private:
    friend struct OpenedAccess;
    std::unique_ptr<Entries> entries;
};

/// How much of a signature loadCodeObject reads.
enum class SignatureRead {
    Whole,              ///< every blob: for checking the code
    WithoutPageHashes,  ///< every blob, but page hashes only stream through their digests
    Entitlements,       ///< the entitlement blobs alone, at new offsets
};

/// Reads the headers of `executable`, picks the slice `architecture` names (an error when
/// there is none), or without one the slice a current Mac runs, and reads and checks its
/// SuperBlob. Blobs inside are left for their accessors. Whatever `read` leaves out, the
/// page hashes of a large executable stay on disk; a signature too odd for that is read
/// whole, so that its checks word the error. The error's code tells where it went wrong,
/// for the tools word each differently: `unreadable` or `refused` (the file), `unsupported`
/// (no Mach-O), `malformed` (its headers), `invalidSignature` (the SuperBlob), `missing`
/// (no slice for `architecture`).
[[nodiscard]] Expected<CodeObject> loadCodeObject(
    const std::filesystem::path& executable, const std::optional<macho::Architecture>& architecture,
    SignatureRead read = SignatureRead::Whole);

/// Every slice of `executable`, in file order, each as loadCodeObject reads it.
[[nodiscard]] Expected<std::vector<CodeObject>> loadEverySlice(
    const std::filesystem::path& executable, SignatureRead read = SignatureRead::Whole);

/// The same for the main executable of a located bundle, read only from inside it.
[[nodiscard]] Expected<CodeObject> loadCodeObject(
    const CodeLocation& location, const std::optional<macho::Architecture>& architecture,
    SignatureRead read = SignatureRead::Whole);
[[nodiscard]] Expected<std::vector<CodeObject>> loadEverySlice(
    const CodeLocation& location, SignatureRead read = SignatureRead::Whole);

/// A signature as loadCodeObject reads it.
struct SignatureBlob {
    codesig::SuperBlob superBlob;
    std::vector<DirectoryDigest> digests;  ///< of directories whose page hashes were left unread
};

/// The `size` bytes of signature at `base` in `source`, read as `read` says; `unreadable`
/// when they can't be read, `invalidSignature` when they are no SuperBlob.
[[nodiscard]] Expected<SignatureBlob> readSignature(const macho::ByteSource& source,
                                                    std::uint64_t base, std::uint32_t size,
                                                    SignatureRead read);

/// The digest of the code directory `cd` found in `slot` of `code`'s signature, in its own
/// hash type; empty when it can't be had.
[[nodiscard]] std::vector<unsigned char> directoryDigest(const CodeObject& code, std::uint32_t slot,
                                                         const codesig::CodeDirectory& cd);

}  // namespace varko::codesign
