// How a parser names the token it refuses: an error is one line a person reads, so
// a token from a binary file or a huge run-on word must not break or flood it.
#ifndef IRCODE_SHOWN_H
#define IRCODE_SHOWN_H

#include <string>

// token in single quotes, at most 40 characters of it; bytes outside printable
// ASCII as \xNN, and "..." where it was cut.
std::string shown(const std::string& token);

#endif
