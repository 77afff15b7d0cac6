// The certificate verification callback installed on every TLS context the HTTP client creates.
#pragma once

#include <openssl/types.h>

namespace oxl::http {

class SslUtils {
  public:
    SslUtils() = delete;

    // OpenSSL's SSL_CTX_set_cert_verify_callback signature; identityBlock is a CertIdentity*. Hands the
    // chain and the expected identities to the block's CertVerifier: 1 accepts, 0 rejects (also without a
    // block or a verifier, or with an unknown match model).
    static int verifyCb(X509_STORE_CTX* storeCtx, void* identityBlock);
};

}  // namespace oxl::http
