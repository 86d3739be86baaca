#include "platform/net.h"

#include <arpa/inet.h>

namespace contentfile_internal {

uint32_t ParseIpv4Address(const char* text) {
  // inet_addr answers INADDR_NONE (all bits set) for a text that is no
  // address, which is the value the log head record wants for it.
  return ntohl(inet_addr(text));
}

}  // namespace contentfile_internal
