#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "oxl/runtime/SecureString.h"

using oxl::SecureString;

namespace {

std::string binaryText() {
    std::string s;
    for (int i = 0; i < 256; ++i) {
        s += static_cast<char>(i);
    }
    return s + std::string("\0\0\xff", 3);
}

}  // namespace

TEST(SecureStringTest, RoundTrips) {
    std::vector<std::string> texts = {
        "a",          "password",           "p\xC3\xA4ssw\xC3\xB6rd \xE2\x82\xAC",
        binaryText(), std::string(1, '\0'), std::string(1 << 20, 'x'),
    };
    // every length around the cipher's 16-byte blocks
    for (size_t n : {15, 16, 17, 31, 32, 33, 47, 48, 49}) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) {
            s[i] = static_cast<char>('A' + i % 26);
        }
        texts.push_back(s);
    }
    for (const auto& text : texts) {
        SCOPED_TRACE(text.size());
        const SecureString secure(text);
        EXPECT_FALSE(secure.empty());
        EXPECT_EQ(secure.getString(), text);
        EXPECT_EQ(secure.getWiped().str(), text);
        // a second read gives the same text
        EXPECT_EQ(secure.getString(), text);
    }
}

TEST(SecureStringTest, StoredBytesHideTheTextAndDifferBetweenStores) {
    const std::string texts[] = {
        "a",
        "password",
        std::string(16, 'k'),
        "X-Auth=0123456789abcdef; a session token",
        binaryText(),
        std::string(4096, 'x'),
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text.size());
        const auto first = SecureString(text).cipherTextForTesting();
        const auto second = SecureString(text).cipherTextForTesting();
        ASSERT_GE(first.size(), text.size());
        EXPECT_NE(first, second) << "the same text stored twice gave the same bytes";
        const std::string stored(first.begin(), first.end());
        EXPECT_NE(stored.substr(0, text.size()), text);
        // No 8-byte piece of the text survives (a chance match in random bytes is about 2^-64 per place).
        for (size_t i = 0; i + 8 <= text.size(); i += 8) {
            ASSERT_EQ(stored.find(text.substr(i, 8)), std::string::npos) << "clear text at offset " << i;
        }
    }
    EXPECT_TRUE(SecureString().cipherTextForTesting().empty());
}

// Zeros enciphered are the bare keystream: a repeated 16-byte block would mean a counter that stopped or
// wrapped early. 1 MiB is 65,536 blocks, so every low-order counter byte carries many times.
TEST(SecureStringTest, KeystreamBlocksNeverRepeatWithinAText) {
    const auto bytes = SecureString(std::string(1 << 20, '\0')).cipherTextForTesting();
    ASSERT_EQ(bytes.size(), static_cast<size_t>(1 << 20));
    std::set<std::string> blocks;
    for (size_t i = 0; i < bytes.size(); i += 16) {
        blocks.emplace(reinterpret_cast<const char*>(bytes.data() + i), 16);
    }
    EXPECT_EQ(blocks.size(), bytes.size() / 16);
}

TEST(SecureStringTest, EmptyInputsStoreNothing) {
    const SecureString cases[] = {
        SecureString(),
        SecureString(std::string()),
        SecureString(""),
        SecureString(static_cast<const char*>(nullptr)),
        SecureString(nullptr, 10),
        SecureString("abc", 0),
    };
    for (const auto& s : cases) {
        EXPECT_TRUE(s.empty());
        EXPECT_EQ(s.getString(), "");
    }
    EXPECT_EQ(SecureString("ab\0cd", 5).getString(), std::string("ab\0cd", 5));
    EXPECT_EQ(SecureString("ab\0cd").getString(), "ab");
}

TEST(SecureStringTest, CopiesShareDataUntilReassigned) {
    SecureString original("token-1");
    SecureString copy = original;
    EXPECT_TRUE(copy.sharesDataWith(original));
    EXPECT_EQ(copy.getString(), "token-1");

    copy = SecureString("token-2");
    EXPECT_FALSE(copy.sharesDataWith(original));
    EXPECT_EQ(original.getString(), "token-1");
    EXPECT_EQ(copy.getString(), "token-2");

    // Separately stored equal texts do not share data.
    EXPECT_FALSE(SecureString("same").sharesDataWith(SecureString("same")));
}

TEST(SecureStringTest, EqualsComparesClearTexts) {
    struct Case {
        SecureString a;
        SecureString b;
        bool equal;
    };
    const SecureString shared("shared");
    const Case cases[] = {
        {SecureString("same"), SecureString("same"), true},
        {SecureString("same"), SecureString("Same"), false},
        {SecureString("same"), SecureString("same "), false},
        {SecureString(), SecureString(""), true},
        {SecureString(), SecureString("a"), false},
        {shared, shared, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a.equals(c.b), c.equal);
        EXPECT_EQ(c.b.equals(c.a), c.equal);
    }
}

TEST(SecureStringTest, SharedCopiesReadConcurrently) {
    const SecureString secret(std::string(1000, 's') + "end");
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([copy = secret, &mismatches] {
            for (int i = 0; i < 200; ++i) {
                if (copy.getString() != std::string(1000, 's') + "end") {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(SecureStringTest, WipingClearsTheWholeBuffer) {
    std::string text = "a secret that is long enough to live on the heap";
    text.reserve(200);
    const char* buffer = text.data();
    const size_t capacity = text.capacity();
    oxl::secureWipe(text);
    EXPECT_TRUE(text.empty());
    // clear() keeps the allocation, so the old bytes can still be inspected.
    ASSERT_EQ(text.data(), buffer);
    for (size_t i = 0; i < capacity; ++i) {
        ASSERT_EQ(buffer[i], '\0') << "at " << i;
    }
}

// With one text, equal first cipher blocks mean an equal IV. Stores on four threads cross many refills of
// each thread's pool of random bytes.
TEST(SecureStringTest, NoTwoStoresShareAnIv) {
    constexpr int THREADS = 4;
    constexpr int STORES = 300;
    std::vector<std::vector<std::vector<unsigned char>>> firstBlocks(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([t, &firstBlocks] {
            for (int i = 0; i < STORES; ++i) {
                const auto bytes = SecureString("same text, same key").cipherTextForTesting();
                firstBlocks[t].emplace_back(bytes.begin(),
                                            bytes.begin() + std::min<size_t>(16, bytes.size()));
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::set<std::vector<unsigned char>> distinct;
    for (const auto& perThread : firstBlocks) {
        for (const auto& block : perThread) {
            ASSERT_EQ(block.size(), 16u);
            distinct.insert(block);
        }
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(THREADS * STORES));
}

// A fork child inherits the parent's pool of random bytes; it must not hand out what the parent will.
TEST(SecureStringTest, AForkChildDrawsDifferentIvsFromItsParent) {
    ASSERT_FALSE(SecureString("fills this thread's pool").empty());
    int fds[2] = {-1, -1};
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        const auto bytes = SecureString("after the fork").cipherTextForTesting();
        const bool ok =
            !bytes.empty() && write(fds[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    const auto mine = SecureString("after the fork").cipherTextForTesting();
    std::vector<unsigned char> theirs(mine.size() + 16);
    ssize_t got = 0;
    for (ssize_t n = 0; (n = read(fds[0], theirs.data() + got, theirs.size() - got)) > 0;) {
        got += n;
    }
    close(fds[0]);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    theirs.resize(static_cast<size_t>(got));
    ASSERT_EQ(theirs.size(), mine.size());
    EXPECT_NE(theirs, mine) << "parent and fork child used the same IV";
}
