#include "oxl/cert/common/CertVerifierFactory.h"

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/XmppCertVerifier.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/netutils/GlobalInit.h"

namespace oxl::cert {

std::shared_ptr<CertVerifier> CertVerifierFactory::createCertVerifier() {
    oxl::netutils::printVersionBannerOnce();
    return std::make_shared<CertVerifier>(PlatformCertVerifier::createInstance());
}

std::shared_ptr<XmppCertVerifier> CertVerifierFactory::createXmppCertVerifier() {
    oxl::netutils::printVersionBannerOnce();
    return std::make_shared<XmppCertVerifier>(PlatformCertVerifier::createInstance());
}

}  // namespace oxl::cert
