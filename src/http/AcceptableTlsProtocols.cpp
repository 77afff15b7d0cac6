#include "oxl/http/AcceptableTlsProtocols.h"

namespace oxl::http {

std::string AcceptableTlsProtocols::toString(long protocols) {
    std::string text = "[acceptable cryptographic protocols]";
    if ((protocols & TLS_1_0) != 0) {
        text += " TLS_1_0";
    }
    if ((protocols & TLS_1_1) != 0) {
        text += " TLS_1_1";
    }
    if ((protocols & TLS_1_2) != 0) {
        text += " TLS_1_2";
    }
    return text;
}

}  // namespace oxl::http
