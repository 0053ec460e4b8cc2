// The publisher-text check: each fault alone, the order in which they are looked for when a text
// has several, and the writer's messages built from them.
#include "format/publisher_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using format::PublisherTextFault;

TEST(PublisherText, EachFaultIsFoundAndTheFirstOfSeveralWins) {
    const format::PublisherTextRule capped{8, false}, emptyAllowed{8, true};
    const struct {
        std::string text;
        format::PublisherTextRule rule;
        PublisherTextFault fault;
    } cases[] = {
        {"Setup", capped, PublisherTextFault::None},
        {"caf\xc3\xa9 ok", capped, PublisherTextFault::None},  // 8 bytes: at the cap
        {"", emptyAllowed, PublisherTextFault::None},
        {"", capped, PublisherTextFault::Empty},
        {"123456789", capped, PublisherTextFault::TooLong},
        {"a\tb", capped, PublisherTextFault::ControlCharacter},
        {"a\x7f", capped, PublisherTextFault::ControlCharacter},
        {"caf\xe9", capped, PublisherTextFault::NotUtf8},
        {"\x01\x02\x03\x04\x05\x06\x07\x08\x09", capped, PublisherTextFault::TooLong},
        {"\xe9\n", capped, PublisherTextFault::ControlCharacter},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format::CheckPublisherText(c.text.data(), c.text.size(), c.rule), c.fault)
            << c.text;
        EXPECT_EQ(format::PublisherTextProblem(c.text, "the title", c.rule).empty(),
                  c.fault == PublisherTextFault::None)
            << c.text;
    }
    EXPECT_EQ(format::PublisherTextProblem("123456789", "the title", capped),
              "the title is 9 bytes long; at most 8 fit");
    EXPECT_EQ(format::PublisherTextProblem("", "the title", capped), "the title is empty");
}

}  // namespace
