// The public way to forget the user's decisions about invalid certificates.
#pragma once

namespace oxl::cert {

class CertCacheInterface {
  public:
    static void clearInvalidCertificateCache();
};

}  // namespace oxl::cert
