// The temporary folder's naming: random names, and a name found taken is never used.
#include "sfx/core/temporary_folder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// A scripted random source, and folders that "exist" already.
class ScriptedMaker final : public sfx::FolderMaker {
  public:
    std::vector<std::vector<uint8_t>> script;
    std::set<std::string> existing;
    bool failCreate = false;
    std::vector<std::string> tried;

    bool Random(uint8_t* bytes, size_t count) override {
        if (script.empty()) return false;
        std::vector<uint8_t> next = script.front();
        script.erase(script.begin());
        std::copy(next.begin(), next.begin() + count, bytes);
        return true;
    }
    sfx::FolderCreation Create(const char* name) override {
        tried.push_back(name);
        if (failCreate) return sfx::FolderCreation::Failed;
        if (!existing.insert(name).second) return sfx::FolderCreation::Exists;
        return sfx::FolderCreation::Made;
    }
};

const std::vector<uint8_t> kFirst = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const std::vector<uint8_t> kSecond = {0xff, 0, 0, 0, 0, 0, 0, 0x10};

TEST(TemporaryFolder, NameCarriesAllSixtyFourRandomBits) {
    char name[sfx::kTemporaryNameBytes];
    sfx::TemporaryFolderName(kFirst.data(), name);
    EXPECT_STREQ(name, "vorn-0123456789abcdef");
    sfx::TemporaryFolderName(kSecond.data(), name);
    EXPECT_STREQ(name, "vorn-ff00000000000010");
}

TEST(TemporaryFolder, AFolderAlreadyUnderThePredictedNameIsNeverUsed) {
    struct Case {
        const char* what;
        int taken;  // how many of the scripted names exist already
        bool made;
    } cases[] = {{"free name", 0, true},
                 {"first name planted", 1, true},
                 {"every attempt planted", sfx::kTemporaryNameAttempts, false}};
    for (const Case& c : cases) {
        ScriptedMaker maker;
        std::vector<std::string> planted;
        for (int i = 0; i < sfx::kTemporaryNameAttempts; ++i) {
            std::vector<uint8_t> bytes = kFirst;
            bytes[7] = static_cast<uint8_t>(i);
            maker.script.push_back(bytes);
            char name[sfx::kTemporaryNameBytes];
            sfx::TemporaryFolderName(bytes.data(), name);
            if (i < c.taken) maker.existing.insert(name);
            if (i < c.taken) planted.push_back(name);
        }
        char made[sfx::kTemporaryNameBytes] = "unset";
        EXPECT_EQ(sfx::MakeFreshFolder(maker, made), c.made) << c.what;
        for (const std::string& p : planted) EXPECT_NE(p, made) << c.what;
        EXPECT_EQ(maker.tried.size(), c.made ? c.taken + 1u : size_t(c.taken)) << c.what;
    }
}

TEST(TemporaryFolder, NoRandomSourceOrNoCreationMakesNone) {
    ScriptedMaker silent;
    char name[sfx::kTemporaryNameBytes];
    EXPECT_FALSE(sfx::MakeFreshFolder(silent, name));
    EXPECT_TRUE(silent.tried.empty());
    ScriptedMaker refusing;
    refusing.script = {kFirst, kSecond};
    refusing.failCreate = true;
    EXPECT_FALSE(sfx::MakeFreshFolder(refusing, name));
    EXPECT_EQ(refusing.tried.size(), 1u);  // a failure that is not "exists" is not retried
}

}  // namespace
