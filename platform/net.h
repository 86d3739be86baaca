// Network address text: the one place that asks the C library to read an
// IPv4 address.

#ifndef CONTENTFILE_PLATFORM_NET_H_
#define CONTENTFILE_PLATFORM_NET_H_

#include <cstdint>

namespace contentfile_internal {

// Reads `text` (NUL-terminated) as an IPv4 address by the rules of
// inet_addr: one to four dot-separated numbers, each decimal, octal with a
// leading 0 or hexadecimal with a leading 0x, the last one filling the
// remaining bytes. Returns the address in host byte order, so that the first
// number of a dotted address is the most significant byte; a text that is no
// address, the empty text included, gives 0xFFFFFFFF (as 255.255.255.255
// does).
uint32_t ParseIpv4Address(const char* text);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_PLATFORM_NET_H_
