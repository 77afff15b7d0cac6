// PAC scripts run in a child process that the fuzzer cannot follow, so this program runs the library's PAC
// helper functions (the same JavaScript, in the same engine) in-process with hostile arguments: host names
// and URLs from the request, patterns, masks and date and time arguments from the script, and any clock
// value. shExpMatch is compared with a plain glob matcher, and FindProxyForURL answers go through the
// library's answer parser. dnsResolve here resolves numeric IPv4 text only, so nothing leaves the process.
#include <arpa/inet.h>
#include <duktape.h>

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "http/PacHelperScript.h"
#include "oxl/http/PacEvaluator.h"

namespace {

const char* const FUNCTIONS[] = {"shExpMatch",      "isPlainHostName", "dnsDomainIs",  "localHostOrDomainIs",
                                 "dnsDomainLevels", "isResolvable",    "convert_addr", "isInNet",
                                 "weekdayRange",    "dateRange",       "timeRange",    "FindProxyForURL"};

// A script as sites write them: the helpers over the URL and host, several answers.
constexpr const char* SCRIPT = R"JS(
function FindProxyForURL(url, host) {
    if (isPlainHostName(host) || dnsDomainIs(host, ".corp.test") || shExpMatch(host, "*.local")) {
        return "DIRECT";
    }
    if (isInNet(host, "10.0.0.0", "255.0.0.0") || shExpMatch(url, "http://*/intranet/*")) {
        return "PROXY inner.test:3128; DIRECT";
    }
    if (weekdayRange("MON", "FRI") && timeRange(8, 18)) {
        return "PROXY day.test:8080; PROXY backup.test:8080";
    }
    return "SOCKS s.test:1080; PROXY fallback.test:" + (dnsDomainLevels(host) + 1);
}
)JS";

duk_ret_t dnsResolve(duk_context* ctx) {
    const char* host = duk_safe_to_string(ctx, 0);
    in_addr address{};
    if (inet_pton(AF_INET, host, &address) == 1) {
        duk_push_string(ctx, host);
    } else {
        duk_push_null(ctx);
    }
    return 1;
}

duk_ret_t myIpAddress(duk_context* ctx) {
    duk_push_string(ctx, "192.0.2.10");
    return 1;
}

duk_context* engine() {
    static duk_context* ctx = [] {
        duk_context* c = duk_create_heap_default();
        duk_push_c_function(c, dnsResolve, 1);
        duk_put_global_string(c, "dnsResolve");
        duk_push_c_function(c, myIpAddress, 0);
        duk_put_global_string(c, "myIpAddress");
        if (duk_peval_string(c, oxl::http::detail::PAC_HELPER_SCRIPT) != 0 ||
            duk_peval_string(c, SCRIPT) != 0) {
            oxl::fuzz::fail("scripts load", __FILE__, __LINE__, duk_safe_to_string(c, -1));
        }
        duk_pop(c);
        return c;
    }();
    return ctx;
}

// '*' any run of characters, '?' any one, everything else itself.
bool globMatch(const std::string& text, const std::string& pattern) {
    std::size_t t = 0, p = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool isPlainAscii(const std::string& text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0 || u >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t which = input.ConsumeIntegralInRange<std::size_t>(0, std::size(FUNCTIONS) - 1);
    // Any time a Date can hold (about 285,000 years either side of 1970).
    const double now = static_cast<double>(
        input.ConsumeIntegralInRange<int64_t>(-8'640'000'000'000'000LL, 8'640'000'000'000'000LL));
    std::vector<std::string> args;
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 7);
    for (std::size_t i = 0; i < count; ++i) {
        args.push_back(oxl::fuzz::takeField(input, 2048));
    }

    duk_context* ctx = engine();
    duk_push_number(ctx, now);
    duk_put_global_string(ctx, "__pacFixedTime");
    duk_get_global_string(ctx, FUNCTIONS[which]);
    for (const auto& arg : args) {
        duk_push_lstring(ctx, arg.data(), arg.size());
    }
    const bool ok = duk_pcall(ctx, static_cast<duk_idx_t>(args.size())) == DUK_EXEC_SUCCESS;
    const std::string name = FUNCTIONS[which];
    if (ok && name == "shExpMatch" && args.size() >= 2 && isPlainAscii(args[0]) && isPlainAscii(args[1])) {
        OXL_FUZZ_CHECK(
            duk_is_boolean(ctx, -1) && (duk_get_boolean(ctx, -1) != 0) == globMatch(args[0], args[1]),
            "shExpMatch('" + args[0] + "', '" + args[1] + "')");
    }
    if (ok && name == "FindProxyForURL") {
        OXL_FUZZ_CHECK(duk_is_string(ctx, -1), "FindProxyForURL answered no string");
        duk_size_t length = 0;
        const char* answer = duk_get_lstring(ctx, -1, &length);
        const auto parsed = oxl::http::PacEvaluator::parseAnswer(std::string(answer, length));
        OXL_FUZZ_CHECK(parsed.kind != oxl::http::PacEvaluator::Answer::INVALID, std::string(answer, length));
    }
    duk_pop(ctx);
    return 0;
}
