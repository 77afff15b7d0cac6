#include "oxlnet/PemFiles.h"
#include "oxlnet/Handles.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace oxlnet::pem {

namespace {

const std::string BEGIN = "-----BEGIN ";
const std::string END = "-----END ";
const std::string DASHES = "-----";

// The label of an armour line ("-----BEGIN X-----" gives X), empty when the line is no such line.
std::string armourLabel(const std::string& line, const std::string& prefix) {
    std::string trimmed = line;
    while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == ' ')) {
        trimmed.pop_back();
    }
    if (trimmed.rfind(prefix, 0) != 0 || trimmed.size() < prefix.size() + DASHES.size() ||
        trimmed.compare(trimmed.size() - DASHES.size(), DASHES.size(), DASHES) != 0) {
        return {};
    }
    return trimmed.substr(prefix.size(), trimmed.size() - prefix.size() - DASHES.size());
}

bool readable(const Block& block) {
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(block.text.data(), static_cast<int>(block.text.size())));
    if (!bio) {
        return false;
    }
    if (block.label == "CERTIFICATE") {
        X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        X509_free(cert);
        return cert != nullptr;
    }
    if (block.label == "X509 CRL") {
        X509_CRL* crl = PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr);
        X509_CRL_free(crl);
        return crl != nullptr;
    }
    return false;
}

}  // namespace

std::vector<Block> splitBlocks(const std::string& content, std::vector<std::string>& problems) {
    std::vector<Block> blocks;
    std::istringstream in(content);
    std::string line;
    int number = 0;
    Block* open = nullptr;
    while (std::getline(in, line)) {
        ++number;
        if (open == nullptr) {
            const std::string label = armourLabel(line, BEGIN);
            if (!label.empty()) {
                blocks.push_back(Block{label, line + "\n", number});
                open = &blocks.back();
            }
            continue;
        }
        open->text += line + "\n";
        const std::string label = armourLabel(line, END);
        if (!label.empty()) {
            if (label != open->label) {
                problems.push_back("PEM block at line " + std::to_string(open->line) + " ends with END " +
                                   label);
                blocks.pop_back();
            }
            open = nullptr;
        } else if (!armourLabel(line, BEGIN).empty()) {
            problems.push_back("PEM block at line " + std::to_string(open->line) + " has no END line");
            blocks.pop_back();
            blocks.push_back(Block{armourLabel(line, BEGIN), line + "\n", number});
            open = &blocks.back();
        }
    }
    if (open != nullptr) {
        problems.push_back("PEM block at line " + std::to_string(open->line) + " has no END line");
        blocks.pop_back();
    }
    return blocks;
}

bool isReadableRegularFile(const std::string& path, std::size_t maxBytes, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || access(path.c_str(), R_OK) != 0) {
        error = "cannot read '" + path + "'";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "'" + path + "' is not a regular file";
        return false;
    }
    if (maxBytes != 0 && static_cast<std::size_t>(info.st_size) > maxBytes) {
        error = "'" + path + "' is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    return true;
}

bool readRegularFile(const std::string& path, std::string& content, std::string& error) {
    if (!isReadableRegularFile(path, MAX_INPUT_FILE_BYTES, error)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read '" + path + "'";
        return false;
    }
    content.clear();
    char chunk[64 * 1024];
    while (content.size() <= MAX_INPUT_FILE_BYTES && in.read(chunk, sizeof(chunk)).gcount() > 0) {
        content.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        error = "cannot read '" + path + "'";
        return false;
    }
    if (content.size() > MAX_INPUT_FILE_BYTES) {
        error = "'" + path + "' is larger than " + std::to_string(MAX_INPUT_FILE_BYTES) + " bytes";
        return false;
    }
    return true;
}

int checkBlocks(const std::string& content, const std::string& expectedLabel,
                std::vector<std::string>& problems) {
    int good = 0;
    for (const auto& block : splitBlocks(content, problems)) {
        if (block.label != expectedLabel) {
            problems.push_back("PEM block at line " + std::to_string(block.line) + " is a " + block.label +
                               ", not a " + expectedLabel);
        } else if (!readable(block)) {
            problems.push_back("PEM block at line " + std::to_string(block.line) + " is not a readable " +
                               expectedLabel);
        } else {
            ++good;
        }
    }
    return good;
}

}  // namespace oxlnet::pem
