// Reading the PEM files handed to the tool, refusing what cannot be read instead of skipping it.
#pragma once

#include <string>
#include <vector>

namespace oxlnet::pem {

// One "-----BEGIN LABEL-----" ... "-----END LABEL-----" block of a file.
struct Block {
    std::string label;  // "CERTIFICATE", "X509 CRL", ...
    std::string text;   // the whole block, armour included
    int line = 0;       // line of the BEGIN line, from 1
};

// The blocks of `content` in order. A BEGIN line without its END is reported in `problems`.
std::vector<Block> splitBlocks(const std::string& content, std::vector<std::string>& problems);

// The content of a regular file; false (with `error` set) for a missing or unreadable file, a directory, a
// device or anything else that is not a regular file.
bool readRegularFile(const std::string& path, std::string& content, std::string& error);

// Checks that every block of `content` is a readable object of the expected kind (label "CERTIFICATE" or
// "X509 CRL"); one line per bad block is added to `problems`. Returns the number of good blocks.
int checkBlocks(const std::string& content, const std::string& expectedLabel,
                std::vector<std::string>& problems);

}  // namespace oxlnet::pem
