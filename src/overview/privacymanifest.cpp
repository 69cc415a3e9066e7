#include "overview/privacymanifest.h"
namespace varko::overview {
Expected<std::optional<PrivacyManifest>> readPrivacyManifest(const std::filesystem::path&,
                                                             const ItemRoot*) {
    return std::optional<PrivacyManifest>();
}
}  // namespace varko::overview
