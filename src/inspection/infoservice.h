#pragma once

#include <QtGlobal>
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "inspection/checks.h"
#include "inspection/info.h"

namespace varko {

/// A way to hold a service without asking the user: a public entitlement set to true, or a
/// name in the private TCC allow-list. Raises one flag of the record, shown in one checkbox.
struct ServiceGrant {
    /// None: the platform has no such grant for the service.
    constexpr ServiceGrant() = default;
    constexpr ServiceGrant(std::array<std::string_view, 2> names, bool Info::*flag,
                           const char* field, Check check)
        : names(names), flag(flag), field(field), check(check) {}

    /// Exact and case-sensitive, as the system compares them.
    [[nodiscard]] constexpr bool grantedBy(std::string_view name) const {
        // The empty slots must not match an entitlement with an empty key.
        return !name.empty() && std::find(names.begin(), names.end(), name) != names.end();
    }

    /// The entitlements or TCC service names that raise the flag.
    std::array<std::string_view, 2> names{};
    bool Info::*flag = nullptr;
    const char* field = nullptr;  ///< the flag's name in varko-report's JSON
    std::optional<Check> check;
};

/// One privacy service the record keeps: where each fact is read from, the field that keeps
/// it, its name in varko-report's JSON, and the window's row and checkboxes that show it.
struct InfoService {
    const char* label;     ///< the grid's row title, translated by the window
    const char* usageKey;  ///< the one Info.plist key whose text the record keeps
    QString Info::*usage;  ///< "[]" while the key is absent
    const char* usageField;
    Check usageCheck;
    ServiceGrant entitlement{};  ///< public
    ServiceGrant allowance{};    ///< private, through com.apple.private.tcc.allow
};

/// In the grid's order.
inline constexpr std::array infoServices{
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Location"),
                "NSLocationUsageDescription", &Info::location, "location", Check::locationCheck,
                ServiceGrant({"com.apple.security.personal-information.location"},
                             &Info::pubLocation, "pubLocation", Check::pubLocationCheck),
                ServiceGrant({"kTCCServiceLiverpool"}, &Info::privLiverpool, "privLiverpool",
                             Check::privLiverpoolCheck)},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Calendars"),
                "NSCalendarsUsageDescription", &Info::calendars, "calendars", Check::calendarsCheck,
                ServiceGrant({"com.apple.security.personal-information.calendars"},
                             &Info::pubCalendars, "pubCalendars", Check::pubCalendarsCheck),
                ServiceGrant({"kTCCServiceCalendar"}, &Info::privCalendars, "privCalendars",
                             Check::privCalendarsCheck)},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Contacts"),
                "NSContactsUsageDescription", &Info::contacts, "contacts", Check::contactsCheck,
                ServiceGrant({"com.apple.security.personal-information.addressbook"},
                             &Info::pubContacts, "pubContacts", Check::pubContactsCheck),
                ServiceGrant({"kTCCServiceAddressBook"}, &Info::privContacts, "privContacts",
                             Check::privContactsCheck)},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Reminders"),
                "NSRemindersUsageDescription", &Info::reminders, "reminders", Check::remindersCheck,
                ServiceGrant({"com.apple.security.personal-information.reminders"},
                             &Info::pubReminders, "pubReminders", Check::pubRemindersCheck),
                ServiceGrant({"kTCCServiceReminders"}, &Info::privReminders, "privReminders",
                             Check::privRemindersCheck)},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Photos"),
                "NSPhotoLibraryUsageDescription", &Info::photos, "photos", Check::photosCheck,
                ServiceGrant({"com.apple.security.personal-information.photos-library"},
                             &Info::pubPhotos, "pubPhotos", Check::pubPhotoCheck),
                ServiceGrant({"kTCCServicePhotos"}, &Info::privPhotos, "privPhotos",
                             Check::privPhotosCheck)},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "System administration"),
                "NSSystemAdministrationUsageDescription", &Info::sysadmin, "sysadmin",
                Check::sysadminCheck},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Apple events"),
                "NSAppleEventsUsageDescription", &Info::aevent, "aevent", Check::aeventsCheck,
                ServiceGrant({"com.apple.security.automation.apple-events"}, &Info::pubAEvent,
                             "pubAEvent", Check::pubAEventsCheck)},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Camera"), "NSCameraUsageDescription",
                &Info::camera, "camera", Check::cameraCheck,
                ServiceGrant({"com.apple.security.device.camera"}, &Info::pubCamera, "pubCamera",
                             Check::pubCameraCheck),
                ServiceGrant({"kTCCServiceCamera"}, &Info::privCamera, "privCamera",
                             Check::privCameraCheck)},
    InfoService{QT_TRANSLATE_NOOP("varko::ViewController", "Microphone"),
                "NSMicrophoneUsageDescription", &Info::mike, "mike", Check::microphoneCheck,
                ServiceGrant({"com.apple.security.device.microphone",
                              "com.apple.security.device.audio-input"},
                             &Info::pubMike, "pubMike", Check::pubMicrophoneCheck),
                ServiceGrant({"kTCCServiceMicrophone"}, &Info::privMike, "privMike",
                             Check::privMicrophoneCheck)},
};

}  // namespace varko
