#include "ui/preferences.h"

#include <QStringList>

#ifdef __APPLE__
#include <CoreFoundation/CoreFoundation.h>
#else
#include <QSettings>
#endif

namespace varko::preferences {

#ifdef __APPLE__

namespace {

/// Owns one Core Foundation reference.
struct Held {
    CFTypeRef ref = nullptr;
    ~Held() {
        if (ref != nullptr) CFRelease(ref);
    }
};

QVariant fromPropertyList(CFPropertyListRef value) {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID()) return QString::fromCFString(static_cast<CFStringRef>(value));
    if (type == CFBooleanGetTypeID())
        return bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)));
    if (type == CFNumberGetTypeID()) {
        const auto number = static_cast<CFNumberRef>(value);
        if (CFNumberIsFloatType(number)) {
            double d = 0;
            CFNumberGetValue(number, kCFNumberDoubleType, &d);
            return d;
        }
        long long n = 0;
        CFNumberGetValue(number, kCFNumberLongLongType, &n);
        return n;
    }
    if (type == CFArrayGetTypeID()) {
        const auto array = static_cast<CFArrayRef>(value);
        QStringList texts;
        for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
            const auto item = CFArrayGetValueAtIndex(array, i);
            if (CFGetTypeID(item) == CFStringGetTypeID())
                texts << QString::fromCFString(static_cast<CFStringRef>(item));
        }
        return texts;
    }
    return {};
}

/// A new reference the caller releases; none for a kind of value Varko never stores.
CFPropertyListRef toPropertyList(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Bool:
            return CFRetain(value.toBool() ? kCFBooleanTrue : kCFBooleanFalse);
        case QMetaType::Int:
        case QMetaType::LongLong: {
            const long long n = value.toLongLong();
            return CFNumberCreate(kCFAllocatorDefault, kCFNumberLongLongType, &n);
        }
        case QMetaType::Double: {
            const double d = value.toDouble();
            return CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &d);
        }
        case QMetaType::QString:
            return value.toString().toCFString();
        case QMetaType::QStringList: {
            CFMutableArrayRef array =
                CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
            for (const QString& text : value.toStringList()) {
                const Held item{text.toCFString()};
                CFArrayAppendValue(array, item.ref);
            }
            return array;
        }
        default:
            return nullptr;
    }
}

void store(const QString& key, CFPropertyListRef value) {
    const Held name{key.toCFString()};
    CFPreferencesSetAppValue(static_cast<CFStringRef>(name.ref), value,
                             kCFPreferencesCurrentApplication);
    CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
}

}  // namespace

QVariant value(const QString& key, const QVariant& fallback) {
    const Held name{key.toCFString()};
    const Held stored{CFPreferencesCopyAppValue(static_cast<CFStringRef>(name.ref),
                                                kCFPreferencesCurrentApplication)};
    if (stored.ref == nullptr) return fallback;
    const QVariant read = fromPropertyList(stored.ref);
    return read.isValid() ? read : fallback;
}

void setValue(const QString& key, const QVariant& value) {
    const Held converted{toPropertyList(value)};
    if (converted.ref != nullptr) store(key, converted.ref);
}

void remove(const QString& key) {
    store(key, nullptr);
}

#else

QVariant value(const QString& key, const QVariant& fallback) {
    return QSettings().value(key, fallback);
}

void setValue(const QString& key, const QVariant& value) {
    QSettings().setValue(key, value);
}

void remove(const QString& key) {
    QSettings().remove(key);
}

#endif

}  // namespace varko::preferences
