// Solid groups as reader and writer both see them: the header mark that allows them, the LZ block
// with history (block type 3) whose matches reach back into the decoded bytes of the entries
// before it in its group, the window such a match may reach, and the record field that names an
// entry's group. docs/format.md describes the bytes; this is their one definition.
#pragma once

#include <cstdint>

#include "format/lz_block.h"

namespace format {

// The header's reserved word (offset 20) with this bit set says that the archive may hold solid
// groups: without it a type-3 block is corrupt, as it always was, and the group field is not
// read. Readers before groups existed refuse a type-3 block as corrupt.
constexpr uint32_t kMarkSolidGroups = 4;

inline bool ArchiveAllowsSolidGroups(uint32_t reservedWord) {
    return (reservedWord & kMarkSolidGroups) != 0;
}

// A group's entries together hold at most this many bytes, so that every match of the group
// reaches back at most this far and a reader's history of the whole group fits its window.
constexpr uint32_t kSolidWindowBytes = 64u << 20;

// Slot codes of a type-3 block's distances: slots of a value below 2^26, enough for any distance
// inside the window. The main and length codes are those of the type-2 block.
constexpr uint32_t kLzHistoryDistanceSymbols = 52;
constexpr uint32_t kLzHistoryAllLengths =
    kLzMainSymbols + kLzLengthSymbols + kLzHistoryDistanceSymbols;
static_assert(kLzHistoryDistanceSymbols >= kLzDistanceSymbols, "type 3 codes every type-2 slot");
static_assert(kLzHistoryDistanceSymbols == 2 * 25 + 2, "the last slot holds 2^26 - 1");

// The record's group field (bytes 36-39, little-endian): 0 for an entry that stands alone,
// otherwise its group's number. A group's entries follow one another in the record walk and
// numbers grow by one from group to group, the first being 1.
constexpr uint32_t kRecordGroupOffset = 36;

}  // namespace format
