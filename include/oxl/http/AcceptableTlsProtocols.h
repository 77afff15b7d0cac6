// The TLS versions a request accepts, as a bit set (HttpRequestOptions::acceptableTlsProtocols).
#pragma once

#include <string>

namespace oxl::http {

struct AcceptableTlsProtocols {
    enum Bits : long {
        TLS_1_0 = 1,
        TLS_1_1 = 2,
        TLS_1_2 = 4,
        ALL = 7,  // the default
    };

    // "[acceptable cryptographic protocols]" followed by " TLS_1_0", " TLS_1_1", " TLS_1_2" per bit set.
    static std::string toString(long protocols);
};

}  // namespace oxl::http
