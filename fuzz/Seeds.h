// Seed inputs for each fuzz target, made by the module's own writer and codecs:
// small movies of every mode and their truncations at each record boundary,
// packed records of every type, picture blobs, field records, round-trip shapes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rvofuzz {

using Seed = std::pair<std::string, std::vector<uint8_t>>;   // name, bytes

// The seeds of the target named as in kTargets (empty for an unknown name).
std::vector<Seed> MakeSeeds(const std::string& target);

}   // namespace rvofuzz
