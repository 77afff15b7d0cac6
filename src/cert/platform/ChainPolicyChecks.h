// Checks on a chain that OpenSSL has built which its own X509_verify_cert does not make for a TLS server
// certificate: what the CAs above the leaf may issue, and whether the names the leaf was accepted for lie
// inside their name constraints.
#pragma once

#include <openssl/x509.h>

#include <string>
#include <vector>

namespace oxl::cert::chain {

// A CA certificate (any certificate above the leaf, the trust anchor included) whose extended key usage
// extension names neither serverAuth nor anyExtendedKeyUsage may not issue server certificates. An empty
// or undecodable extension allows nothing. Returns the depth of the first such CA, or -1.
int firstCaNotForServers(STACK_OF(X509) * chain);

// True when `host` satisfies the DNS name constraints of `constraints` (RFC 5280 4.2.1.10): inside one of
// the permitted dNSName subtrees when there is any, and inside none of the excluded ones. A constraint
// "example.com" covers example.com and every name below it; ".example.com" covers only the names below.
bool dnsNameWithin(const std::string& host, const NAME_CONSTRAINTS* constraints);

// The depth of the first CA of `chain` whose name constraints `host` violates (an undecodable extension
// counts as violated), or -1. IP literals are left to OpenSSL, which checks iPAddress names itself.
int firstNameConstraintViolation(STACK_OF(X509) * chain, const std::string& host);

}  // namespace oxl::cert::chain
