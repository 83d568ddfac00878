// Helpers shared by the simulator's UDP sides: a wildcard socket that
// learns each datagram's destination and interface and can answer from a
// chosen source address.
#ifndef TAV_SIM_SNMP_UDP_H_
#define TAV_SIM_SNMP_UDP_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace sim {

struct Datagram {
  uint8_t data[2048];
  size_t length = 0;
  uint32_t from_ip = 0;    // network order
  uint16_t from_port = 0;  // network order
  uint32_t to_ip = 0;      // destination, network order
  int ifindex = 0;
};

// A UDP socket bound to 0.0.0.0:port with destination information on;
// -1 with *error on failure.
int open_wildcard_udp(uint16_t port, std::string* error);
// Receives one datagram; false when none could be read.
bool receive_datagram(int fd, Datagram* d);
// Sends from `source_ip` (network order) to ip:port (network order).
bool send_from(int fd, uint32_t source_ip, uint32_t to_ip, uint16_t to_port,
               const uint8_t* data, size_t length);
// The index of the interface holding `ip`, or 0 when none does.
int interface_index_of(uint32_t ip);
// Parses a dotted address; false when it is not one.
bool parse_ip(const std::string& text, uint32_t* ip);

// A thread serving one wildcard UDP socket until stop(). Derived classes
// must call stop() in their destructor, before their own members go.
class UdpServer {
 public:
  UdpServer() = default;
  virtual ~UdpServer();
  UdpServer(const UdpServer&) = delete;
  UdpServer& operator=(const UdpServer&) = delete;

  // Binds the port and starts serving; false with *error.
  bool start(std::string* error, uint16_t port);
  void stop();
  // Datagrams received so far (any content). Safe from any thread.
  int requests_received() const { return received_.load(); }

 protected:
  virtual void on_datagram(const Datagram& d) = 0;
  // Milliseconds until on_timer() is due; -1 for none.
  virtual int timer_ms() { return -1; }
  virtual void on_timer() {}
  int fd() const { return fd_; }

 private:
  void run();

  int fd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<int> received_{0};
};

}  // namespace sim

#endif  // TAV_SIM_SNMP_UDP_H_
