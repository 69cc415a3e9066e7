#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace varko::examplegen {

using Sha256Digest = std::array<std::byte, 32>;

[[nodiscard]] Sha256Digest sha256(std::span<const std::byte> bytes);

}  // namespace varko::examplegen
