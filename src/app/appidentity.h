#pragma once

class QSettings;

namespace varko {

/// Names the application after the bundle identifier it was built with, such as
/// "example.varko.Varko": the last part is the application's name, the parts before it
/// reversed the organization's domain, from which macOS's QSettings makes its defaults
/// domain. Elsewhere QSettings goes by the organization's name, which stays "Varko":
/// the settings stay in <config>/Varko/Varko.conf.
void setApplicationIdentity();

/// Copies every setting of `earlier` into `current` when `current` holds none and is
/// kept elsewhere, so that a new settings domain starts with what the user had.
void adoptSettings(const QSettings& earlier, QSettings& current);

/// Adopts the settings that macOS builds kept before the domain followed the bundle
/// identifier, under the organization's name alone. Elsewhere that is the same file.
void adoptEarlierSettings();

}  // namespace varko
