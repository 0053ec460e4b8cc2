// The entry-name rule on its own: every name of the shared table under the portable rule and
// under Windows's, and a reason for every refusal that tells the refusals apart.
#include "format/entry_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "entry_name_cases.h"

namespace {

using format::EntryNameVerdict;
using format::NameRules;

TEST(EntryNameRule, EveryCaseOfTheTableUnderBothRules) {
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        EXPECT_EQ(format::CheckEntryName(c.name, NameRules::Portable), c.portable) << c.name;
        EXPECT_EQ(format::CheckEntryName(c.name, NameRules::Windows), c.windows) << c.name;
        // Windows's rule only adds refusals.
        if (c.windows == EntryNameVerdict::Safe) {
            EXPECT_EQ(c.portable, EntryNameVerdict::Safe) << c.name;
        }
        EXPECT_EQ(c.portable == EntryNameVerdict::Safe, c.landsAt != nullptr) << c.name;
    }
}

TEST(EntryNameRule, DeviceNamesInAnyCaseWithAnyExtensionButNotLongerWords) {
    for (const char* device : {"con", "Prn.txt", "AUX", "nul.tar.gz", "COM1", "com9.x", "LPT5",
                               "conin$", "CONOUT$.log", "dir\\NUL  .txt"}) {
        EXPECT_EQ(format::CheckEntryName(device, NameRules::Windows), EntryNameVerdict::DeviceName)
            << device;
    }
    for (const char* word : {"COM0", "COM10", "LPT", "CONSOLE", "nullable.txt", "auxiliary"}) {
        EXPECT_EQ(format::CheckEntryName(word, NameRules::Windows), EntryNameVerdict::Safe) << word;
    }
}

TEST(EntryNameRule, EachRefusalHasItsOwnReason) {
    std::set<std::string> reasons;
    for (EntryNameVerdict v :
         {EntryNameVerdict::Empty, EntryNameVerdict::Rooted, EntryNameVerdict::Colon,
          EntryNameVerdict::DotDotLevel, EntryNameVerdict::DotsAndSpacesLevel,
          EntryNameVerdict::TrailingDotOrSpace, EntryNameVerdict::DeviceName,
          EntryNameVerdict::NoFileName}) {
        reasons.insert(format::EntryNameReason(v));
    }
    EXPECT_EQ(reasons.size(), 8u);
}

}  // namespace
