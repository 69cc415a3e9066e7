#include "overview/privacycatalog.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <array>
#include <set>
#include <utility>

namespace varko::overview {

namespace data {
// Generated at build time from resources/privacy/services.json.
extern const char privacyServicesTable[];
extern const std::size_t privacyServicesTable_size;
}  // namespace data

namespace {

// Far above any table Apple's platform could need, low enough that a hostile file
// handed to fromJson cannot make us hold much.
constexpr std::size_t maxTableBytes = 1 << 20;
constexpr qsizetype maxRows = 500;
constexpr qsizetype maxNamesPerField = 100;
constexpr qsizetype maxNameLength = 512;

constexpr std::array knownFields{"id",           "title",   "tccServices", "usageKeys",
                                 "entitlements", "sources", "note"};

Error tableError(std::string message) {
    return Error{0, "privacy services table: " + std::move(message), ErrorCode::malformed};
}

Error rowError(qsizetype row, std::string_view field, std::string_view what) {
    std::string message = "row " + std::to_string(row);
    if (!field.empty()) {
        message += ", field \"" + std::string(field) + "\"";
    }
    message += ": ";
    message += what;
    return tableError(std::move(message));
}

// A name that is empty, huge or holds control characters is not one Apple publishes.
Expected<std::string> readName(const QJsonValue& value, qsizetype row, std::string_view field) {
    if (!value.isString()) {
        return rowError(row, field, "expected a string");
    }
    const QString text = value.toString();
    if (text.isEmpty() || text.size() > maxNameLength) {
        return rowError(row, field, "a name must have 1 to 512 characters");
    }
    // The control characters (category Cc) are U+0000-U+001F and U+007F-U+009F; a range
    // test, as the table is read before every first window.
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f)) {
            return rowError(row, field, "a name must not hold control characters");
        }
    }
    return text.toStdString();
}

Expected<std::vector<std::string>> readNames(const QJsonObject& object, qsizetype row,
                                             std::string_view field) {
    const QJsonValue value =
        object.value(QLatin1String(field.data(), static_cast<qsizetype>(field.size())));
    if (value.isUndefined()) {
        return std::vector<std::string>{};
    }
    if (!value.isArray()) {
        return rowError(row, field, "expected an array of strings");
    }
    const QJsonArray array = value.toArray();
    if (array.size() > maxNamesPerField) {
        return rowError(row, field, "more than 100 entries");
    }
    std::vector<std::string> names;
    for (const QJsonValue& item : array) {
        auto name = readName(item, row, field);
        if (!name) {
            return name.error();
        }
        names.push_back(std::move(name).value());
    }
    return names;
}

Expected<std::vector<UsageKey>> readUsageKeys(const QJsonObject& object, qsizetype row) {
    const QJsonValue value = object.value(QStringLiteral("usageKeys"));
    if (value.isUndefined()) {
        return std::vector<UsageKey>{};
    }
    if (!value.isArray()) {
        return rowError(row, "usageKeys", "expected an array of {\"key\", \"legacy\"} objects");
    }
    const QJsonArray array = value.toArray();
    if (array.size() > maxNamesPerField) {
        return rowError(row, "usageKeys", "more than 100 entries");
    }
    std::vector<UsageKey> keys;
    for (const QJsonValue& item : array) {
        if (!item.isObject()) {
            return rowError(row, "usageKeys", "expected an object with \"key\" and \"legacy\"");
        }
        const QJsonObject entry = item.toObject();
        auto key = readName(entry.value(QStringLiteral("key")), row, "usageKeys");
        if (!key) {
            return key.error();
        }
        const QJsonValue legacy = entry.value(QStringLiteral("legacy"));
        if (!legacy.isUndefined() && !legacy.isBool()) {
            return rowError(row, "usageKeys", "\"legacy\" must be true or false");
        }
        keys.push_back(UsageKey{std::move(key).value(), legacy.toBool(false)});
    }
    return keys;
}

Expected<PrivacyService> readRow(const QJsonValue& value, qsizetype row) {
    if (!value.isObject()) {
        return rowError(row, {}, "expected an object");
    }
    const QJsonObject object = value.toObject();
    // A misspelt field would otherwise drop its names without a word.
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        if (std::none_of(knownFields.begin(), knownFields.end(),
                         [&key](const char* known) { return key == QLatin1String(known); })) {
            return rowError(row, key.toStdString(), "not a field of the table");
        }
    }
    PrivacyService service;
    for (const auto& [field, target] : {std::pair{"id", &service.id}, {"title", &service.title}}) {
        auto text = readName(object.value(QLatin1String(field)), row, field);
        if (!text) {
            return text.error();
        }
        *target = std::move(text).value();
    }
    const QJsonValue note = object.value(QStringLiteral("note"));
    if (!note.isUndefined() && !note.isString()) {
        return rowError(row, "note", "expected a string");
    }
    auto tcc = readNames(object, row, "tccServices");
    if (!tcc) {
        return tcc.error();
    }
    auto keys = readUsageKeys(object, row);
    if (!keys) {
        return keys.error();
    }
    auto entitlements = readNames(object, row, "entitlements");
    if (!entitlements) {
        return entitlements.error();
    }
    auto sources = readNames(object, row, "sources");
    if (!sources) {
        return sources.error();
    }
    service.tccServices = std::move(tcc).value();
    service.usageKeys = std::move(keys).value();
    service.entitlements = std::move(entitlements).value();
    service.sources = std::move(sources).value();
    if (service.tccServices.empty() && service.usageKeys.empty() && service.entitlements.empty()) {
        return rowError(row, {}, "a service needs a TCC name, a usage key or an entitlement");
    }
    if (service.sources.empty()) {
        return rowError(row, "sources", "every row names the public document it comes from");
    }
    for (const std::string& source : service.sources) {
        if (!source.starts_with("https://")) {
            return rowError(row, "sources", "a source is an https:// address");
        }
    }
    return service;
}

// Fills one index, refusing a name that another row (or this one) already holds: a
// lookup must have one answer.
Expected<void> addToIndex(std::map<std::string, std::size_t, std::less<>>& index,
                          const std::vector<std::string>& names, std::size_t row,
                          std::string_view field, const std::vector<PrivacyService>& rows) {
    for (const std::string& name : names) {
        const auto [it, inserted] = index.try_emplace(name, row);
        if (!inserted) {
            return rowError(static_cast<qsizetype>(row), field,
                            "\"" + name + "\" is already in row " + std::to_string(it->second) +
                                " (\"" + rows[it->second].id + "\")");
        }
    }
    return {};
}

}  // namespace

Expected<PrivacyCatalog> PrivacyCatalog::fromJson(std::string_view json) {
    if (json.size() > maxTableBytes) {
        return Error{0, "privacy services table: larger than 1 MiB", ErrorCode::tooLarge};
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return Error{
            static_cast<std::uint64_t>(std::max(0, parseError.offset)),
            "privacy services table: not JSON (" + parseError.errorString().toStdString() + ")",
            ErrorCode::malformed};
    }
    // The file is an object with its comment and a "services" array; a bare array of rows
    // is read too.
    QJsonArray services;
    if (document.isArray()) {
        services = document.array();
    } else {
        const QJsonValue value = document.object().value(QStringLiteral("services"));
        if (!value.isArray()) {
            return tableError("expected an object with a \"services\" array");
        }
        services = value.toArray();
    }
    if (services.size() > maxRows) {
        return Error{0, "privacy services table: more than 500 rows", ErrorCode::tooLarge};
    }

    PrivacyCatalog catalog;
    std::set<std::string, std::less<>> ids;
    for (qsizetype i = 0; i < services.size(); ++i) {
        auto service = readRow(services.at(i), i);
        if (!service) {
            return service.error();
        }
        if (!ids.insert(service->id).second) {
            return rowError(i, "id", "\"" + service->id + "\" names another row too");
        }
        catalog.rows.push_back(std::move(service).value());
    }
    for (std::size_t row = 0; row < catalog.rows.size(); ++row) {
        const PrivacyService& service = catalog.rows[row];
        std::vector<std::string> keys;
        for (const UsageKey& key : service.usageKeys) {
            keys.push_back(key.key);
        }
        auto result = addToIndex(catalog.usageIndex, keys, row, "usageKeys", catalog.rows);
        if (result) {
            result =
                addToIndex(catalog.tccIndex, service.tccServices, row, "tccServices", catalog.rows);
        }
        if (result) {
            result = addToIndex(catalog.entitlementIndex, service.entitlements, row, "entitlements",
                                catalog.rows);
        }
        if (!result) {
            return result.error();
        }
    }
    return catalog;
}

const PrivacyCatalog& PrivacyCatalog::builtIn() {
    // A function-local static is built once, and safely when threads race to it. A test
    // keeps the compiled-in table parsing; were it ever broken, the table would be empty
    // and every service would show as unknown rather than vanish.
    static const PrivacyCatalog table = [] {
        auto parsed =
            fromJson(std::string_view(data::privacyServicesTable, data::privacyServicesTable_size));
        return parsed ? std::move(parsed).value() : PrivacyCatalog{};
    }();
    return table;
}

namespace {
const PrivacyService* lookUp(const std::map<std::string, std::size_t, std::less<>>& index,
                             const std::vector<PrivacyService>& rows, std::string_view name) {
    const auto it = index.find(name);
    return it == index.end() ? nullptr : &rows[it->second];
}
}  // namespace

const PrivacyService* PrivacyCatalog::byUsageKey(std::string_view key) const {
    return lookUp(usageIndex, rows, key);
}

const PrivacyService* PrivacyCatalog::byTccService(std::string_view name) const {
    return lookUp(tccIndex, rows, name);
}

const PrivacyService* PrivacyCatalog::byEntitlement(std::string_view entitlement) const {
    return lookUp(entitlementIndex, rows, entitlement);
}

bool isPrivateTccAllowance(std::string_view entitlement) {
    // The platform's own code holds these, each an array of kTCCService… names it may use
    // without asking; the overridable one lets the user turn the access off later.
    return entitlement == "com.apple.private.tcc.allow" ||
           entitlement == "com.apple.private.tcc.allow.overridable";
}

}  // namespace varko::overview
