// The texts the commands make from what the library reports: status codes, failed entries,
// attributes, names fit for a terminal and byte counts.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

// The text of a public status code, and the text for a failed entry: status 9 (and 3) on an
// enciphered entry tried with a password is a wrong password rather than damaged data.
std::string StatusText(uint32_t status);
std::string EntryFailureText(uint32_t status, bool encrypted, bool passwordGiven);

// "RHSA" letters with "." for each absent one, then "*" for an enciphered entry (" " otherwise).
std::string AttributeText(uint32_t attributes);

// An entry name as shown on a terminal: control bytes become "?", so a hostile name cannot send
// escape sequences to the user's terminal.
std::string Shown(const std::string& name);

// "512 B", "1.5 KiB", "3.2 GiB".
std::string HumanBytes(uint64_t bytes);

}  // namespace tool
