#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "format/expected.h"
#include "format/itemfile.h"

namespace varko::codesign {

/// The same file on disk, by what the system knows of it: hard links share one.
using FileIdentity = FileStamp;

/// The identity of the file open at `fd`, or why the system can't tell.
[[nodiscard]] Expected<FileIdentity> fileIdentity(int fd);

/// How many bytes one item's verification may hash, and what it hashed already: a bundle
/// can name the same gigabytes many times over (hard links, nested code that every level
/// verifies again), and thousands of pieces of it. Each file's bytes are hashed once per
/// item and for each way of hashing them; past the budget, hashing is refused and the check
/// says so instead of running for hours. Shared by the threads of one item, which also note
/// here the code they found sound.
class HashBudget final {
public:
    /// Enough for the largest apps in use (a few gigabytes of code), at disk speed.
    static constexpr std::uint64_t defaultBytes = 8ULL << 30;

    explicit HashBudget(std::uint64_t maxBytes = defaultBytes);
    HashBudget(const HashBudget&) = delete;
    HashBudget& operator=(const HashBudget&) = delete;

    [[nodiscard]] std::uint64_t maxBytes() const { return limit; }

    /// The result of hashing `bytes` bytes of `file` the way `how` names (a slice's offset
    /// and code directory, or a digest algorithm): computed once by `compute`, which runs
    /// on this thread, while other threads asking for the same wait for it. Fails with
    /// `tooLarge` and budgetSpent() once the budget is spent.
    [[nodiscard]] Expected<std::vector<unsigned char>> hashOnce(
        const FileIdentity& file, const std::string& how, std::uint64_t bytes,
        const std::function<Expected<std::vector<unsigned char>>()>& compute);

    /// Whether the code `key` names (a bundle by its seal's folder, main executable and item;
    /// a slice by its file too) was found sound in this item with at most `depth` levels of
    /// nesting allowed; then it is with `depth`, as only nesting past the limit fails for want
    /// of depth. Code nested in a bundle is checked with it and again as a component.
    [[nodiscard]] bool foundSound(const std::string& key, int depth);
    void noteSound(const std::string& key, int depth);

    /// The words of a refusal, naming the bound.
    [[nodiscard]] std::string spentMessage() const;

    /// Results that every budget made on this thread while it stands shares: the passes over
    /// one item (its component checks, the tools run in this process) hash and verify each
    /// piece once. Each budget still counts its own bytes, and never pays for another's.
    class SharedResults;

    /// The budget this thread's checks draw on; none (no bound, no sharing) by default.
    [[nodiscard]] static HashBudget* current();

    /// Makes `budget` this thread's until destroyed, and notes whether a check under it was
    /// refused for the budget.
    class Scope final {
    public:
        explicit Scope(HashBudget* budget);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        /// Whether hashing was refused while this scope was the thread's.
        [[nodiscard]] bool refused() const { return wasRefused; }

    private:
        friend class HashBudget;
        HashBudget* previous;
        Scope* outer;
        bool wasRefused = false;
    };

private:
    struct Entry {
        bool done = false;
        Expected<std::vector<unsigned char>> result{std::vector<unsigned char>()};
    };
    using Key = std::tuple<FileIdentity, std::string>;
    struct Results {
        std::mutex mutex;
        std::condition_variable finished;
        std::map<Key, std::shared_ptr<Entry>> entries;
        std::map<std::string, int> sound;  ///< each bundle found sound, by the least depth
    };

    const std::shared_ptr<Results> results;
    std::uint64_t left;  ///< guarded by results->mutex
    const std::uint64_t limit;
};

class HashBudget::SharedResults final {
public:
    SharedResults();
    ~SharedResults();
    SharedResults(const SharedResults&) = delete;
    SharedResults& operator=(const SharedResults&) = delete;

private:
    friend class HashBudget;
    std::shared_ptr<Results> results;
    SharedResults* previous;
};

}  // namespace varko::codesign
