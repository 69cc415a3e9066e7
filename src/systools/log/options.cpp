#include "systools/log/options.h"

#include <string_view>

#include "systools/log/predicate.h"
#include "systools/log/timeformat.h"

namespace varko::logtool {

const char* usage() {
    return "usage: varko-log show [--predicate P] [--style default|json] [--info] [--debug]\n"
           "                      [--last N[s|m|h|d]] [--start T] [--end T]\n"
           "                      [--file PATH]... [--directory DIR]\n"
           "  Shows the systemd journal as macOS's `log show` shows the unified log.\n"
           "  T is local time, \"yyyy-MM-dd HH:mm:ss\" or \"yyyy-MM-dd\"; --end includes its\n"
           "  whole second. --last counts back from now (no unit: seconds).\n"
           "  --file and --directory read the given journal instead of the system's.\n"
           "exit status: 0 shown, 64 usage, bad predicate or date, 66 no readable journal,\n"
           "             74 reading the journal or writing the output failed\n";
}

Expected<Options> parseOptions(std::span<const std::string> arguments) {
    const auto fail = [](std::string message, ErrorCode code = ErrorCode::malformed) {
        return Error{0, std::move(message), code};
    };
    if (arguments.size() > maxArguments) return fail("too many arguments", ErrorCode::tooLarge);
    for (const std::string& a : arguments)
        if (a.size() > maxArgumentBytes)
            return fail("an argument is longer than 8192 bytes", ErrorCode::tooLarge);
    if (arguments.empty()) return fail("missing the verb (only \"show\" is known)");
    if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
        Options help;
        help.help = true;
        return help;
    }
    if (arguments[0] != "show") return fail("unknown verb \"" + arguments[0] + "\"");

    Options o;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view name = arguments[i];
        const auto value = [&]() -> const std::string* {
            return i + 1 < arguments.size() ? &arguments[++i] : nullptr;
        };
        if (name == "--info") {
            o.info = true;
        } else if (name == "--debug") {
            o.debug = true;
        } else if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--style" || name == "--predicate" || name == "--last" ||
                   name == "--start" || name == "--end" || name == "--file" ||
                   name == "--directory") {
            const std::string* v = value();
            if (!v) return fail(std::string(name) + " needs a value");
            if (name == "--style") {
                if (*v == "json")
                    o.style = Style::Json;
                else if (*v == "default")
                    o.style = Style::Default;
                else
                    return fail("unknown style \"" + *v + "\" (known: default, json)");
            } else if (name == "--predicate") {
                if (o.predicate) return fail("--predicate given twice");
                if (v->size() > Predicate::maxLength)
                    return fail("predicate is longer than 4096 bytes", ErrorCode::tooLarge);
                o.predicate = *v;
            } else if (name == "--last") {
                const auto span = parseDuration(*v);
                if (span) o.lastUsec = *span;
                if (!span)
                    return fail("--last takes N with an optional s, m, h or d, not \"" + *v + "\"");
            } else if (name == "--start" || name == "--end") {
                const auto t = parseLocalDateTime(*v);
                if (!t)
                    return fail(std::string(name) +
                                " takes a local date and time \"yyyy-MM-dd HH:mm:ss\" or a date "
                                "\"yyyy-MM-dd\", not \"" +
                                *v + "\"");
                if (name == "--start")
                    o.startUsec = *t;
                else
                    o.endUsec = *t + 999'999;
            } else if (name == "--file") {
                if (o.files.size() == maxFiles)
                    return fail("too many --file arguments", ErrorCode::tooLarge);
                if (v->empty()) return fail("--file needs a path");
                o.files.push_back(*v);
            } else {
                if (!o.directory.empty()) return fail("--directory given twice");
                if (v->empty()) return fail("--directory needs a path");
                o.directory = *v;
            }
        } else {
            return fail("unknown option \"" + std::string(name) + "\"");
        }
    }
    if (!o.files.empty() && !o.directory.empty())
        return fail("--file and --directory cannot be combined");
    if (o.lastUsec && (o.startUsec || o.endUsec))
        return fail("--last cannot be combined with --start or --end");
    if (o.startUsec && o.endUsec && *o.startUsec > *o.endUsec)
        return fail("--start is after --end");
    return o;
}

}  // namespace varko::logtool
