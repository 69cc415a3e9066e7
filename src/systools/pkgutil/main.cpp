// varko-pkgutil: what `pkgutil --check-signature` answers, from the package itself. The
// certificate chain is not checked yet, so a signed package is never called trusted.
#include <filesystem>
#include <iostream>
#include <string>
#include <variant>

#include "systools/spctl/xar.h"

using namespace varko;

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "--check-signature") {
        std::cerr << "Usage: varko-pkgutil --check-signature PKG\n";
        return 2;
    }
    const std::string path = argv[2];
    const auto signature = spctl::packageSignature(path);
    if (const auto* problem = std::get_if<std::string>(&signature)) {
        std::cerr << "Error: " << path << ": " << *problem << '\n';
        return 1;
    }
    std::cout << "Package \"" << std::filesystem::path(path).filename().string() << "\":\n";
    if (std::get<spctl::PackageSignature>(signature) == spctl::PackageSignature::None) {
        std::cout << "   Status: no signature\n";
        return 1;
    }
    std::cout << "   Status: signed, but varko-pkgutil cannot check package signatures yet\n";
    return 1;
}
