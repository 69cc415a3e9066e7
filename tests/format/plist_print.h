#pragma once

#include <ostream>

#include "format/plist/plist.h"

namespace varko::plist {

// Lets GoogleTest show values as text instead of raw bytes.
inline void PrintTo(const Value& v, std::ostream* os) {
    *os << describe(v);
}

}  // namespace varko::plist
