// The dnsmasq fixture of the tests: the sandbox's DNS server under the names the tests use.
#pragma once

#include "sandbox/DnsSandbox.h"

namespace oxl::test {

using Dnsmasq = oxl::sandbox::DnsSandbox;
using DnsmasqRecords = oxl::sandbox::DnsSandboxRecords;
using oxl::sandbox::dnsServerAnswers;
using oxl::sandbox::freeLoopbackPort;
using oxl::sandbox::SilentUdpPort;

}  // namespace oxl::test
