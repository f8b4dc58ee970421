#pragma once
// The UDP transport of the live feeds: one datagram per line, sent without waiting.
#include <string>
#include <string_view>
#include <vector>

namespace acquire {

/// One datagram per accepted line, "<id> <time_utc> <raw line>", to HOST:PORT.
class UdpFeed {
 public:
  UdpFeed() = default;
  ~UdpFeed();
  UdpFeed(const UdpFeed&) = delete;
  UdpFeed& operator=(const UdpFeed&) = delete;

  /// Resolves "HOST:PORT" and makes the socket; false with `error` set when it cannot.
  bool open(const std::string& hostPort, std::string& error);
  /// Sends one datagram without waiting; false when the system refused it.
  bool send(std::string_view datagram);
  long long sent() const { return m_sent; }
  long long failed() const { return m_failed; }

 private:
  int m_socket = -1;
  std::vector<unsigned char> m_address;  // sockaddr bytes
  long long m_sent = 0, m_failed = 0;
};
}  // namespace acquire
