#include "signature/codehash.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>

namespace varko::codesign {

namespace {

struct Algorithm {
    HashKind kind;
    const EVP_MD* (*md)();
};

constexpr std::array<Algorithm, 4> algorithms{{
    {{1, "sha1", 1}, &EVP_sha1},
    {{2, "sha256", 3}, &EVP_sha256},
    {{3, "sha256", 2}, &EVP_sha256},  // stored truncated to 20 bytes
    {{4, "sha384", 4}, &EVP_sha384},
}};

const Algorithm* algorithm(std::uint8_t type) {
    const auto it = std::find_if(algorithms.begin(), algorithms.end(),
                                 [type](const Algorithm& a) { return a.kind.type == type; });
    return it == algorithms.end() ? nullptr : &*it;
}

}  // namespace

const HashKind* hashKind(std::uint8_t type) {
    const Algorithm* a = algorithm(type);
    return a ? &a->kind : nullptr;
}

Digester::Digester(const HashKind& kind) : context(EVP_MD_CTX_new()) {
    failed = !context || EVP_DigestInit_ex(context.get(), algorithm(kind.type)->md(), nullptr) != 1;
}

void Digester::update(std::span<const std::byte> bytes) {
    if (!failed && !bytes.empty())
        failed = EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1;
}

std::vector<unsigned char> Digester::finish() {
    std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (failed || EVP_DigestFinal_ex(context.get(), out.data(), &size) != 1) size = 0;
    failed = true;
    out.resize(size);
    return out;
}

PageHasher::PageHasher(const HashKind& kind) : context(EVP_MD_CTX_new()) {
    ready = context && EVP_DigestInit_ex(context.get(), algorithm(kind.type)->md(), nullptr) == 1;
}

std::span<const unsigned char> PageHasher::hash(std::span<const std::byte> bytes) {
    unsigned int size = 0;
    // Without a digest named, the context keeps the implementation it has: no lookup and
    // no lock per page.
    if (!ready || EVP_DigestInit_ex2(context.get(), nullptr, nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), out, &size) != 1)
        return {};
    return std::span(out, size);
}

std::vector<unsigned char> digest(const HashKind& kind, std::span<const std::byte> bytes) {
    Digester d(kind);
    d.update(bytes);
    return d.finish();
}

}  // namespace varko::codesign
