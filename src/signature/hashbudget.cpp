#include "signature/hashbudget.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace varko::codesign {

namespace {

thread_local HashBudget* currentBudget = nullptr;
thread_local HashBudget::Scope* currentScope = nullptr;
thread_local HashBudget::SharedResults* currentShared = nullptr;

}  // namespace

Expected<FileIdentity> fileIdentity(int fd) {
    struct stat st {};
    if (fd < 0) return Error{0, "the bytes are no file", ErrorCode::unsupported};
    if (::fstat(fd, &st) != 0)
        return Error{0, std::string("fstat failed: ") + std::strerror(errno),
                     ErrorCode::unreadable};
    return stampOf(st);
}

HashBudget::HashBudget(std::uint64_t maxBytes)
    : results(currentShared ? currentShared->results : std::make_shared<Results>()),
      left(maxBytes),
      limit(maxBytes) {}

HashBudget::SharedResults::SharedResults()
    : results(std::make_shared<Results>()), previous(currentShared) {
    currentShared = this;
}

HashBudget::SharedResults::~SharedResults() {
    currentShared = previous;
}

HashBudget* HashBudget::current() {
    return currentBudget;
}

HashBudget::Scope::Scope(HashBudget* budget) : previous(currentBudget), outer(currentScope) {
    currentBudget = budget;
    currentScope = this;
}

HashBudget::Scope::~Scope() {
    currentBudget = previous;
    currentScope = outer;
}

std::string HashBudget::spentMessage() const {
    const auto size = [](std::uint64_t bytes) {
        if (bytes >= (1ULL << 30)) return std::to_string(bytes >> 30) + " GiB";
        if (bytes >= (1ULL << 20)) return std::to_string(bytes >> 20) + " MiB";
        return std::to_string(bytes >> 10) + " KiB";
    };
    return "not checked: more than " + size(limit) + " of code and files to hash in this item";
}

Expected<std::vector<unsigned char>> HashBudget::hashOnce(
    const FileIdentity& file, const std::string& how, std::uint64_t bytes,
    const std::function<Expected<std::vector<unsigned char>>()>& compute) {
    const auto refuse = [&]() -> Expected<std::vector<unsigned char>> {
        for (Scope* s = currentScope; s != nullptr; s = s->outer) s->wasRefused = true;
        return Error{0, spentMessage(), ErrorCode::tooLarge};
    };
    std::shared_ptr<Entry> entry;
    {
        std::unique_lock lock(results->mutex);
        const Key key{file, how};
        if (const auto found = results->entries.find(key); found != results->entries.end()) {
            entry = found->second;
            results->finished.wait(lock, [&] { return entry->done; });
            return entry->result;
        }
        if (bytes > left) return refuse();
        left -= bytes;
        entry = std::make_shared<Entry>();
        results->entries.emplace(key, entry);
    }
    Expected<std::vector<unsigned char>> result = compute();
    {
        std::lock_guard lock(results->mutex);
        entry->result = result;
        entry->done = true;
    }
    results->finished.notify_all();
    return result;
}

bool HashBudget::foundSound(const std::string& key, int depth) {
    const std::lock_guard lock(results->mutex);
    const auto found = results->sound.find(key);
    return found != results->sound.end() && found->second <= depth;
}

void HashBudget::noteSound(const std::string& key, int depth) {
    const std::lock_guard lock(results->mutex);
    const auto [at, added] = results->sound.emplace(key, depth);
    if (!added) at->second = std::min(at->second, depth);
}

}  // namespace varko::codesign
