// The comparison script on the stored public path-validation cases: the library must decide them as
// expected at least as often as `openssl verify` does, and accept none that OpenSSL rejects.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/RunTool.h"

namespace {

int agreements(const std::string& output, const std::string& verifier) {
    std::smatch match;
    const std::regex line(verifier + " [a-z-]* ?agrees with the expected result: +([0-9]+)/([0-9]+)");
    return std::regex_search(output, match, line) ? std::stoi(match[1]) : -1;
}

}  // namespace

TEST(PathValidationSuiteTest, AgreesAtLeastAsOftenAsOpenSslAndNeverAcceptsMore) {
    const std::string oxlnet = oxl::test::oxlnetPath();
    if (oxlnet.empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    // __FILE__ is relative to the build tree's root (the parent of this program's folder) or absolute.
    std::error_code error;
    const auto buildRoot = std::filesystem::read_symlink("/proc/self/exe", error).parent_path().parent_path();
    const auto source = std::filesystem::weakly_canonical(buildRoot / __FILE__, error);
    const auto root = source.parent_path().parent_path().parent_path().parent_path();
    const auto script = root / "scripts/path-validation-compare.py";
    if (!std::filesystem::exists(script)) {
        GTEST_SKIP() << "the source tree was not found beside the build (" << script << ")";
    }
    const auto run = oxl::test::runProgram({script.string(),
                                            (root / "tests/data/path-validation/limbo-subset.json").string(),
                                            "--oxlnet", oxlnet});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("cases run: 23"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("accepted by oxlnet but rejected by openssl: 0"), std::string::npos) << run.out;
    const int library = agreements(run.out, "oxlnet");
    const int openssl = agreements(run.out, "openssl");
    ASSERT_GE(openssl, 0) << run.out;
    EXPECT_GE(library, openssl) << run.out;
}
