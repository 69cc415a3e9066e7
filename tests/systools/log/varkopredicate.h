#pragma once

/// The predicate Varko's log window sends, word for word.
inline constexpr const char* varkoPredicate =
    R"(subsystem == "com.apple.TCC" OR subsystem == "com.apple.launchservices" OR )"
    R"(subsystem == "com.apple.securityd" OR subsystem == "com.apple.sandbox" OR )"
    R"(processImagePath CONTAINS[c] "tccd" OR processImagePath CONTAINS[c] "sandboxd" OR )"
    R"(processID = 0)";
