#include "inspection/checks.h"

namespace varko {

QString checkName(Check check) {
    static constexpr std::array<const char*, checkCount> names{
        "catalinaCheck",      "tensixteenCheck",  "mojaveCheck",        "hsCheck",
        "appleCheck",         "locationCheck",    "calendarsCheck",     "contactsCheck",
        "remindersCheck",     "photosCheck",      "sysadminCheck",      "aeventsCheck",
        "cameraCheck",        "microphoneCheck",  "pubCalendarsCheck",  "pubContactsCheck",
        "pubRemindersCheck",  "pubPhotoCheck",    "pubCameraCheck",     "pubMicrophoneCheck",
        "pubLocationCheck",   "pubAEventsCheck",  "privCalendarsCheck", "privContactsCheck",
        "privRemindersCheck", "privPhotosCheck",  "privCameraCheck",    "privMicrophoneCheck",
        "privLiverpoolCheck", "isNotarizedCheck", "isAppleCheck",       "isAppStoreCheck",
        "isDevIDCheck",       "isHardenedCheck",
    };
    return QString::fromLatin1(names[std::size_t(check)]);
}

}  // namespace varko
