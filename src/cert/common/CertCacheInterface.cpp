#include "oxl/cert/common/CertCacheInterface.h"

#include "oxl/cert/common/CertificateValidityCache.h"

namespace oxl::cert {

void CertCacheInterface::clearInvalidCertificateCache() {
    CertificateValidityCache::clear();
}

}  // namespace oxl::cert
