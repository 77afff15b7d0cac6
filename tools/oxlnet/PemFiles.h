// Reading the PEM files handed to the tool, refusing what cannot be read instead of skipping it.
#pragma once

#include <cstddef>
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

// Certificate, CRL and trust files the tool reads are at most this large (a system trust bundle is a few
// hundred kilobytes).
constexpr std::size_t MAX_INPUT_FILE_BYTES = 16 * 1024 * 1024;

// True for a regular file the tool may open for reading and, unless `maxBytes` is 0, of at most that size;
// otherwise false with `error` set (missing, unreadable, a directory, a device, a pipe, too large).
bool isReadableRegularFile(const std::string& path, std::size_t maxBytes, std::string& error);

// The content of a readable regular file of at most MAX_INPUT_FILE_BYTES; false (with `error` set) otherwise.
// Never reads more than that, even from a file that grows while it is read.
bool readRegularFile(const std::string& path, std::string& content, std::string& error);

// Checks that every block of `content` is a readable object of the expected kind (label "CERTIFICATE" or
// "X509 CRL"); one line per bad block is added to `problems`. Returns the number of good blocks.
int checkBlocks(const std::string& content, const std::string& expectedLabel,
                std::vector<std::string>& problems);

}  // namespace oxlnet::pem
