// The IPv4 look-ups that both systems spell alike once their headers are in.
#include "platform/Sockets.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#endif

#include <cstring>

namespace platform {

bool lookupIpv4Address(const char* host, uint16_t port, void* address)
{
  struct sockaddr_in found;
  memset(&found, 0, sizeof found);
  found.sin_family = AF_INET;
  found.sin_port = htons(port);
  if (!host) {
    found.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    struct addrinfo* results = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &results) == 0 && results) {
      found.sin_addr = reinterpret_cast<struct sockaddr_in*>(results->ai_addr)->sin_addr;
      freeaddrinfo(results);
    } else {
      if (results) freeaddrinfo(results);
      if (inet_pton(AF_INET, host, &found.sin_addr) != 1) return false;
    }
  }
  memcpy(address, &found, sizeof found);
  return true;
}

uint16_t socketLocalPort(SocketHandle socket)
{
  struct sockaddr_in bound;
  unsigned int length = sizeof bound;
  uint16_t port = 0;
  if (!socketLocalAddress(socket, &bound, &length) || !ipv4AddressParts(&bound, length, nullptr, &port))
    return 0;
  return port;
}

}  // namespace platform
