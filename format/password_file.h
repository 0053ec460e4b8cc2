// A password file, as the vorn tool and the Linux self-extractor read it: its first line, without
// its line end ("\n" or "\r\n"); nothing else of the file counts.
#pragma once

#include <istream>
#include <string>

namespace format {

// False when no line could be read (the file is empty or unreadable).
inline bool ReadPasswordLine(std::istream& in, std::string* password) {
    password->clear();
    if (!std::getline(in, *password)) return false;
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return true;
}

}  // namespace format
