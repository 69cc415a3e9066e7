// Comparing two versions of an item, from the JSON objects varko-report prints: a
// stranger's file may be either. Two paths must agree: an object compared with itself has
// no changes, and every change has one line of text.
#include <QJsonDocument>
#include <QJsonObject>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "compare/compare.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Two documents, split at the first zero byte; the second may be absent.
    const std::span bytes(data, size);
    std::size_t split = 0;
    while (split < size && data[split] != 0) ++split;
    const auto object = [](std::span<const std::uint8_t> part) {
        return QJsonDocument::fromJson(
                   QByteArray(reinterpret_cast<const char*>(part.data()), qsizetype(part.size())))
            .object();
    };
    const QJsonObject before = object(bytes.first(split));
    const QJsonObject after = object(split < size ? bytes.subspan(split + 1) : bytes.first(0));
    for (const QJsonObject* item : {&before, &after})
        if (!varko::compare::compareItems(*item, *item).empty()) {
            std::fprintf(stderr, "an item differs from itself\n");
            std::abort();
        }
    const auto changes = varko::compare::compareItems(before, after);
    const QString text = varko::compare::comparisonText(changes);
    if (!changes.empty() && text.count(u'\n') != qsizetype(changes.size())) {
        std::fprintf(stderr, "a change took more or less than one line\n");
        std::abort();
    }
    (void)varko::compare::comparisonJson(before, after, changes);
    return 0;
}
