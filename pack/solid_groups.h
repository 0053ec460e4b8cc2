// Which entries a solid archive puts into which group: a plain decision over names and sizes.
// Files of one kind go together (programs with programs, other data with other data), sorted by
// extension and then by name as solid archivers do, so that alike files lie close in a group's
// window; a group holds at most its size limit. Enciphered files, files that are already
// compressed (their bytes repeat nothing) and files beyond the limit stand alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/solid.h"

namespace pack {

struct GroupCandidate {
    std::string name;  // the entry's name, "\" between levels
    uint64_t size;
    bool encrypted;
};

struct GroupPlan {
    std::vector<size_t> alone;                // indices of the entries outside any group
    std::vector<std::vector<size_t>> groups;  // each group's entries, in their archive order
};

// groupBytes: the most a group holds, at most format::kSolidWindowBytes.
GroupPlan ChooseSolidGroups(const std::vector<GroupCandidate>& files,
                            uint64_t groupBytes = format::kSolidWindowBytes);

// Which groups, of groupBytes each, find their matches on a thread of their own when jobs threads
// pack them: those larger than a job's share of all their bytes. Such a group would keep the
// others' threads waiting for it (one group of programs, or the text of a tree beside a few
// programs); groups of like sizes each take a job.
std::vector<bool> GroupsFindingAhead(const std::vector<uint64_t>& groupBytes, unsigned jobs);

// The kinds files are grouped by, from a name's extension.
enum class FileKind { Program, Compressed, Other };
FileKind KindOf(const std::string& name);

}  // namespace pack
