#include <oxl/oxlnetutils.h>

#include <iostream>

int main() {
    const int rc = oxl::netutils::GlobalInit();
    std::cout << "GlobalInit: " << rc << std::endl;
    oxl::netutils::GlobalCleanup();
    return rc == 0 ? 0 : 1;
}
