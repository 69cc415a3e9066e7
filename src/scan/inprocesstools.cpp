#include "scan/inprocesstools.h"

#include "signature/hashbudget.h"
#include "systools/codesign/codesigntool.h"
#include "systools/pkgutil/pkgutiltool.h"
#include "systools/spctl/spctltool.h"

namespace varko::scan {

namespace {

using Run = int (*)(std::span<const std::string>, std::ostream&, std::ostream&);

host::InProcessTool own(Run run) {
    return [run](std::span<const std::string> arguments, std::ostream& out, std::ostream& err) {
        // The run hashes on a budget of its own, as its program would, not on the caller's.
        const codesign::HashBudget::Scope fresh(nullptr);
        return run(arguments, out, err);
    };
}

int spctlRun(std::span<const std::string> arguments, std::ostream&, std::ostream& err) {
    return spctl::runSpctl(arguments, err);
}

}  // namespace

host::ToolSet inProcessTools(const host::ToolSet& tools) {
    return tools.withInProcess(QLatin1String(host::codesignPath), own(codesign::runCodesign))
        .withInProcess(QLatin1String(host::spctlPath), own(spctlRun))
        .withInProcess(QLatin1String(host::pkgutilPath), own(pkgutil::runPkgutil));
}

}  // namespace varko::scan
