// The one table of entry names that every reader is tested against: the rule itself, the vorn
// tool (natively and vorn.exe under Wine), the Windows self-extractor's walk and the Linux one.
// Each name has its verdict under the portable rule and under Windows's, and where an accepted
// name lands below the destination. The landing paths differ from each other, so that one
// archive can hold every case.
#pragma once

#include <string>
#include <vector>

#include "format/entry_name.h"
#include "test_archive.h"

namespace vorntest {

struct EntryNameCase {
    const char* name;
    format::EntryNameVerdict portable;
    format::EntryNameVerdict windows;
    const char* landsAt;  // below the destination, "/" between levels; for accepted names
};

inline const std::vector<EntryNameCase>& EntryNameCases() {
    using V = format::EntryNameVerdict;
    static const std::vector<EntryNameCase> kCases = {
        // Accepted everywhere.
        {"a.txt", V::Safe, V::Safe, "a.txt"},
        {"a\\b\\c.txt", V::Safe, V::Safe, "a/b/c.txt"},
        {"docs/mixed\\c.txt", V::Safe, V::Safe, "docs/mixed/c.txt"},
        {"f\\\\g.txt", V::Safe, V::Safe, "f/g.txt"},
        {"a..b.txt", V::Safe, V::Safe, "a..b.txt"},
        {"..name.txt", V::Safe, V::Safe, "..name.txt"},
        {"dir\\.hidden", V::Safe, V::Safe, "dir/.hidden"},
        {"CONFIG.SYS", V::Safe, V::Safe, "CONFIG.SYS"},
        {"console.txt", V::Safe, V::Safe, "console.txt"},
        // Names Windows reads as something else; other systems store them as they are.
        {"CON", V::Safe, V::DeviceName, "CON"},
        {"sub\\NUL.txt", V::Safe, V::DeviceName, "sub/NUL.txt"},
        {"lpt1.txt", V::Safe, V::DeviceName, "lpt1.txt"},
        {"aux .log", V::Safe, V::DeviceName, "aux .log"},
        {"COM\xC2\xB9", V::Safe, V::DeviceName, "COM\xC2\xB9"},
        {"com\xC2\xB2.txt", V::Safe, V::DeviceName, "com\xC2\xB2.txt"},
        {"s\\COM\xC2\xB3.log", V::Safe, V::DeviceName, "s/COM\xC2\xB3.log"},
        {"LPT\xC2\xB9.dat", V::Safe, V::DeviceName, "LPT\xC2\xB9.dat"},
        {"lpt\xC2\xB2", V::Safe, V::DeviceName, "lpt\xC2\xB2"},
        {"t\\LPT\xC2\xB3", V::Safe, V::DeviceName, "t/LPT\xC2\xB3"},
        {"COM\xC2\xB4.txt", V::Safe, V::Safe, "COM\xC2\xB4.txt"},
        {"LPT\xC2\xB9x", V::Safe, V::Safe, "LPT\xC2\xB9x"},
        {"ok\\.. \\x", V::Safe, V::DotsAndSpacesLevel, "ok/.. /x"},
        {". .\\y", V::Safe, V::DotsAndSpacesLevel, ". ./y"},
        {"m\\...\\n", V::Safe, V::DotsAndSpacesLevel, "m/.../n"},
        {"d\\.\\e.txt", V::Safe, V::DotsAndSpacesLevel, "d/e.txt"},
        {"trail.txt.", V::Safe, V::TrailingDotOrSpace, "trail.txt."},
        {"space \\z.txt", V::Safe, V::TrailingDotOrSpace, "space /z.txt"},
        // Refused everywhere.
        {"..", V::DotDotLevel, V::DotDotLevel, nullptr},
        {"..\\escape1.txt", V::DotDotLevel, V::DotDotLevel, nullptr},
        {"a\\..\\..\\escape2.txt", V::DotDotLevel, V::DotDotLevel, nullptr},
        {"a/../../escape3.txt", V::DotDotLevel, V::DotDotLevel, nullptr},
        {"inner\\..", V::DotDotLevel, V::DotDotLevel, nullptr},
        {"\\escape4.txt", V::Rooted, V::Rooted, nullptr},
        {"/escape5.txt", V::Rooted, V::Rooted, nullptr},
        {"\\\\server\\escape6.txt", V::Rooted, V::Rooted, nullptr},
        {"C:\\escape7.txt", V::Colon, V::Colon, nullptr},
        {"D:escape8.txt", V::Colon, V::Colon, nullptr},
        {"file.txt:stream", V::Colon, V::Colon, nullptr},
        {"folder\\", V::NoFileName, V::NoFileName, nullptr},
        {".", V::NoFileName, V::DotsAndSpacesLevel, nullptr},
        {"", V::Empty, V::Empty, nullptr},
    };
    return kCases;
}

// The verdict of a case under rules.
inline format::EntryNameVerdict VerdictUnder(const EntryNameCase& c, format::NameRules rules) {
    return rules == format::NameRules::Windows ? c.windows : c.portable;
}

// One archive holding every case, each entry's data its own name (so a file found on disk tells
// which entry it came from).
inline TestArchive EntryNameCaseArchive() {
    TestArchive archive;
    for (const EntryNameCase& c : EntryNameCases()) {
        TestEntry e;
        e.name = c.name;
        std::string data = std::string("entry ") + c.name;
        e.data.assign(data.begin(), data.end());
        archive.entries.push_back(e);
    }
    return archive;
}

}  // namespace vorntest
