#pragma once

#include <QString>

#include "format/expected.h"
#include "privacy/tccdatabase.h"
#include "report/iteminspection.h"

namespace varko::cli {

/// The privacy database named by --tcc, read; or why not, said on standard error too.
[[nodiscard]] Expected<privacy::TccDatabase> openPrivacyDatabase(const QString& path);

/// Puts what `db` granted the inspected app onto its overview's services and returns the
/// text that lists them beside what the app declares, is entitled to and is allowed.
/// An item that isn't an app, or whose code can't be found, is trouble: said on standard
/// error, with `ok` false.
[[nodiscard]] QString grantItem(Inspection& item, const privacy::TccDatabase& db,
                                const QString& database, bool& ok);

}  // namespace varko::cli
