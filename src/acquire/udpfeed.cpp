#include "acquire/udpfeed.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "acquire/feedformat.h"

namespace acquire {


UdpFeed::~UdpFeed() {
  if (m_socket >= 0) ::close(m_socket);
}

bool UdpFeed::open(const std::string& hostPort, std::string& error) {
  std::string host;
  int port = 0;
  if (!splitHostPort(hostPort, host, port, 0)) {
    error = "'" + hostPort + "' is not HOST:PORT";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0 || !found) {
    error = "cannot resolve '" + host + "': " + gai_strerror(rc);
    return false;
  }
  m_socket = ::socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_socket < 0) {
    error = std::string("cannot make a UDP socket: ") + std::strerror(errno);
    freeaddrinfo(found);
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(found->ai_addr);
  m_address.assign(bytes, bytes + found->ai_addrlen);
  freeaddrinfo(found);
  return true;
}

bool UdpFeed::send(std::string_view datagram) {
  if (m_socket < 0) return false;
  const ssize_t n = ::sendto(m_socket, datagram.data(), datagram.size(), MSG_DONTWAIT,
                             reinterpret_cast<const sockaddr*>(m_address.data()),
                             static_cast<socklen_t>(m_address.size()));
  if (n == static_cast<ssize_t>(datagram.size())) {
    ++m_sent;
    return true;
  }
  ++m_failed;
  return false;
}
}  // namespace acquire
