#pragma once

#include <QString>
#include <QtGlobal>

#include "format/expected.h"

namespace varko {

/// Resolves `symbol` in the module `fileName` beside the running program, loading it
/// the first time; it stays loaded, as what it made may live until the end. Missing
/// when the module isn't there, can't be loaded or lacks the symbol.
[[nodiscard]] Expected<QFunctionPointer> moduleFunction(const QString& fileName,
                                                        const char* symbol);

}  // namespace varko
