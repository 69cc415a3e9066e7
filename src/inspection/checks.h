#pragma once

#include <QString>
#include <array>
#include <optional>

namespace varko {

/// The inspection window's 34 result checkboxes, under their outlet names.
enum class Check {
    catalinaCheck,
    tensixteenCheck,
    mojaveCheck,
    hsCheck,
    appleCheck,
    locationCheck,
    calendarsCheck,
    contactsCheck,
    remindersCheck,
    photosCheck,
    sysadminCheck,
    aeventsCheck,
    cameraCheck,
    microphoneCheck,
    pubCalendarsCheck,
    pubContactsCheck,
    pubRemindersCheck,
    pubPhotoCheck,
    pubCameraCheck,
    pubMicrophoneCheck,
    pubLocationCheck,
    pubAEventsCheck,
    privCalendarsCheck,
    privContactsCheck,
    privRemindersCheck,
    privPhotosCheck,
    privCameraCheck,
    privMicrophoneCheck,
    privLiverpoolCheck,
    isNotarizedCheck,
    isAppleCheck,
    isAppStoreCheck,
    isDevIDCheck,
    isHardenedCheck,
};

inline constexpr int checkCount = 34;

/// The outlet name, e.g. "pubPhotoCheck".
[[nodiscard]] QString checkName(Check check);

/// A state per checkbox; nothing where a run leaves the checkbox as it was.
class CheckStates final {
public:
    void set(Check check, bool on) { states[std::size_t(check)] = on; }
    [[nodiscard]] std::optional<bool> get(Check check) const { return states[std::size_t(check)]; }
    [[nodiscard]] bool isOn(Check check) const { return get(check).value_or(false); }

private:
    std::array<std::optional<bool>, checkCount> states{};
};

}  // namespace varko
