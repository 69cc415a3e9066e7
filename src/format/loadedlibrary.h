#pragma once

// Calls into a C library that is loaded at its first call rather than by the dynamic
// linker at start. A file defines each function it needs under the library's own name and
// type (so that the library's header checks them), and passes the call on with `pass`.

#include <dlfcn.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace varko::loaded {

/// A name as a template argument, so that each library is opened, and each function looked
/// up, once.
template <std::size_t size>
struct Name {
    char text[size];
    constexpr Name(const char (&name)[size]) { std::copy_n(name, size, text); }
};

/// The library, by the name the dynamic linker would look for; null if it can't be loaded.
template <Name soname>
void* library() {
    static void* const handle = dlopen(soname.text, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

/// Why the library is missing, for the error text its own calls would give.
template <Name soname>
const char* failure() {
    static const std::string message = [] {
        const char* why = library<soname>() == nullptr ? dlerror() : nullptr;
        return std::string(soname.text) + " could not be loaded" +
               (why != nullptr ? std::string(": ") + why : std::string());
    }();
    return message.c_str();
}

template <Name soname, Name name, class Function>
Function* resolved() {
    static Function* const function =
        library<soname>() != nullptr
            ? reinterpret_cast<Function*>(dlsym(library<soname>(), name.text))
            : nullptr;
    return function;
}

/// Calls the library's function `name`, or answers `failed` without it.
template <Name soname, Name name, class Function, class Result, class... Arguments>
Result pass(Result failed, Arguments... arguments) {
    Function* function = resolved<soname, name, Function>();
    return function != nullptr ? function(arguments...) : failed;
}

}  // namespace varko::loaded
