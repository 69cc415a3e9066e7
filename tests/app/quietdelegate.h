#pragma once

// The application delegate as a test of the shell wants it: its settings cleared, no update
// check, the launch probe's alerts (it finds no log tools here) answered at once, and every
// signature tool a fake that answers nothing.

#include <QSettings>
#include <memory>

#include "app/appdelegate.h"
#include "app/erroralert.h"
#include "support/faketool.h"
#include "tools/toolset.h"

namespace varko::testing {

inline std::unique_ptr<AppDelegate> quietDelegate(FakeTool& tool) {
    QSettings().clear();
    QSettings().setValue("noUpdateCheck", true);
    alertRunner() = [](const Alert&) { return alertFirstButtonReturn; };
    tool.answer("");
    return std::make_unique<AppDelegate>(
        host::ToolSet::withPrograms({{host::codesignPath, tool.program()},
                                     {host::spctlPath, tool.program()},
                                     {host::pkgutilPath, tool.program()}}));
}

}  // namespace varko::testing
