#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace varko::plist {

class Value;

/// Integers as binary property lists hold them: 64-bit signed, or unsigned
/// values above INT64_MAX (written by the platform as 128-bit integers).
struct Integer {
    std::uint64_t bits = 0;
    bool isUnsigned = false;  ///< true only for values above INT64_MAX
    [[nodiscard]] std::int64_t asSigned() const { return static_cast<std::int64_t>(bits); }
    friend bool operator==(const Integer&, const Integer&) = default;
};

/// Seconds since 2001-01-01 00:00:00 UTC, as every property-list format stores dates.
struct Date {
    double secondsSince2001 = 0;
    friend bool operator==(const Date&, const Date&) = default;
};

/// A keyed archiver's object reference (binary property lists only).
struct Uid {
    std::uint64_t value = 0;
    friend bool operator==(const Uid&, const Uid&) = default;
};

using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;

/// Keys in the file's order; that order is the dictionary's own iteration order.
/// A key that occurs twice keeps its first position and its last value.
/// Two dictionaries are equal when they hold the same keys with equal values, in
/// any order, as the platform compares them (its XML writer sorts the keys).
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;

    [[nodiscard]] const Value* find(std::string_view key) const;
    /// Inserts or replaces; replacing keeps the key's first position.
    void set(std::string key, Value value);

    // Defined below Value: clang needs Value complete to instantiate these.
    [[nodiscard]] std::size_t size() const;
    [[nodiscard]] bool empty() const;
    [[nodiscard]] auto begin() const;
    [[nodiscard]] auto end() const;

    friend bool operator==(const Dictionary&, const Dictionary&);

private:
    std::vector<Entry> entries;
    // Hostile files hold dictionaries with millions of keys; a linear find would
    // make reading them quadratic.
    std::map<std::string, std::size_t, std::less<>> index;
};

enum class Type { String, Boolean, Integer, Real, Date, Data, Array, Dictionary, Uid };

/// One property-list object. Strings are UTF-8.
class Value {
public:
    using Storage =
        std::variant<std::string, bool, Integer, double, Date, Data, Array, Dictionary, Uid>;

    Value() : storage(std::string()) {}
    Value(std::string s) : storage(std::move(s)) {}
    Value(const char* s) : storage(std::string(s)) {}
    Value(bool b) : storage(b) {}
    Value(Integer i) : storage(i) {}
    Value(double d) : storage(d) {}
    Value(Date d) : storage(d) {}
    Value(Data d) : storage(std::move(d)) {}
    Value(Array a) : storage(std::move(a)) {}
    Value(Dictionary d) : storage(std::move(d)) {}
    Value(Uid u) : storage(u) {}

    [[nodiscard]] Type type() const { return static_cast<Type>(storage.index()); }

    [[nodiscard]] const std::string* string() const { return std::get_if<std::string>(&storage); }
    [[nodiscard]] const bool* boolean() const { return std::get_if<bool>(&storage); }
    [[nodiscard]] const Integer* integer() const { return std::get_if<Integer>(&storage); }
    [[nodiscard]] const double* real() const { return std::get_if<double>(&storage); }
    [[nodiscard]] const Date* date() const { return std::get_if<Date>(&storage); }
    [[nodiscard]] const Data* data() const { return std::get_if<Data>(&storage); }
    [[nodiscard]] const Array* array() const { return std::get_if<Array>(&storage); }
    [[nodiscard]] const Dictionary* dictionary() const { return std::get_if<Dictionary>(&storage); }
    [[nodiscard]] const Uid* uid() const { return std::get_if<Uid>(&storage); }
    [[nodiscard]] Array* array() { return std::get_if<Array>(&storage); }
    [[nodiscard]] Dictionary* dictionary() { return std::get_if<Dictionary>(&storage); }

    friend bool operator==(const Value&, const Value&) = default;

private:
    Storage storage;
};

inline std::size_t Dictionary::size() const {
    return entries.size();
}
inline bool Dictionary::empty() const {
    return entries.empty();
}
inline auto Dictionary::begin() const {
    return entries.begin();
}
inline auto Dictionary::end() const {
    return entries.end();
}

}  // namespace varko::plist
