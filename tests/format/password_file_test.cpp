// The password-file rule every reader shares: the first line without its line end, refused when
// empty, longer than a password can be, or holding a NUL; only the bytes a reader reads count.
#include "format/password_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using format::PasswordFileStatus;

TEST(PasswordFile, FirstLineIsThePasswordWithinItsBounds) {
    const std::string longest(format::kMaxPasswordBytes, 'k');
    const struct {
        std::string file;
        PasswordFileStatus status;
        std::string password;
    } cases[] = {
        {"secret\n", PasswordFileStatus::Ok, "secret"},
        {"secret\r\nsecond line\n", PasswordFileStatus::Ok, "secret"},
        {"secret", PasswordFileStatus::Ok, "secret"},
        {"secret\r", PasswordFileStatus::Ok, "secret"},
        {" spaced pass \n", PasswordFileStatus::Ok, " spaced pass "},
        {longest + "\r\n" + std::string(1 << 20, 'x'), PasswordFileStatus::Ok, longest},
        {longest, PasswordFileStatus::Ok, longest},
        {"", PasswordFileStatus::Empty, ""},
        {"\nsecret\n", PasswordFileStatus::Empty, ""},
        {"\r\n", PasswordFileStatus::Empty, ""},
        {longest + "k", PasswordFileStatus::TooLong, ""},
        {longest + "k\n", PasswordFileStatus::TooLong, ""},
        {std::string(1 << 20, 'a'), PasswordFileStatus::TooLong, ""},
        {std::string("ab\0cd\n", 6), PasswordFileStatus::NulByte, ""},
    };
    for (const auto& c : cases) {
        // A reader hands over no more than it reads.
        size_t count = std::min(c.file.size(), format::kPasswordFileReadBytes);
        size_t length = 0;
        EXPECT_EQ(format::PasswordLineOf(c.file.data(), count, &length), c.status)
            << c.file.substr(0, 40);
        if (c.status == PasswordFileStatus::Ok) {
            EXPECT_EQ(std::string(c.file, 0, length), c.password);
        } else {
            EXPECT_NE(*format::PasswordFileProblem(c.status), 0);
        }
    }
}

}  // namespace
