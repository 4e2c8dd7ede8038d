// SPDX-License-Identifier: MIT
// A program outside pacelag that uses its library as any other project would:
// through the one public header and the installed or embedded library.
#include "pacelag/util.h"

#include <cstdio>

int main() {
    aaContext* table = aacreate(AA_NOCASE);
    if (!table || aaput(table, "Key", "value", AA_COPYKEY | AA_COPYVALUE) != 0) return 1;
    unsigned char addr[16];
    char addrtext[40];
    if (str2ipv6addr("2001:db8:0::1", addr) != 0) return 1;
    ipv6addr2str(addrtext, addr);
    char size[32];
    size2str(size, nullptr, 1536);
    std::printf("pacelag %s: %s %s %s\n", PACELAG_VERSION,
                static_cast<const char*>(aaget(table, "KEY")), addrtext, size);
    aafree(table);
    return 0;
}
