// The order in which parallel workers take the planned entries. Each worker takes the next entry
// of one shared queue when it is free; putting the costliest entries first keeps one big entry
// from starting last and leaving the other workers idle while it finishes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tool {

// The relative work of extracting an entry, from the sizes its record gives. Writing and
// checksumming cost about the same per output byte for every entry, but a compressed byte
// decodes token by token and costs about ten times an output byte; a stored entry (no smaller
// than its output) is only copied.
uint64_t EstimatedExtractionWork(uint64_t unpackedSize, uint64_t storedSize);

// Indices of work, costliest first; entries of equal work keep their given order.
std::vector<size_t> CostliestFirst(const std::vector<uint64_t>& work);

}  // namespace tool
