#pragma once

namespace varko {

/// Names the application after the bundle identifier it was built with, such as
/// "example.varko.Varko": the last part is the application's name, the parts before it
/// reversed the organization's domain. The organization's name stays "Varko", so that the
/// settings stay in <config>/Varko/Varko.conf on Linux; on macOS they are the identifier's
/// user defaults (ui/preferences.h).
void setApplicationIdentity();

/// On macOS, copies the settings that earlier builds kept in QSettings' own domain into the
/// user defaults, once, while those hold none of them. Elsewhere nothing moved.
void adoptEarlierSettings();

}  // namespace varko
