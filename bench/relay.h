#pragma once
// A TCP relay on 127.0.0.1 that holds every chunk for a fixed one-way delay in each direction,
// so that a server on this machine answers as one at the far end of a link would. Latency
// only: no throughput cap, order kept. It connects to nothing but 127.0.0.1.

#include <chrono>
#include <cstdint>
#include <memory>

namespace kordb::bench {

class DelayRelay {
  public:
    // Listens on a free port of 127.0.0.1 and relays each connection it accepts to
    // 127.0.0.1:targetPort. Everything is closed at stop() and after limit at the latest.
    DelayRelay(std::uint16_t targetPort, std::chrono::microseconds oneWay,
               std::chrono::seconds limit);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    std::uint16_t port() const;
    // For chunks read from now on; those already held keep their time.
    void setDelay(std::chrono::microseconds oneWay);
    // How often a client spoke after its server had (or first): one per round trip the
    // client waited for, whatever the number of packets.
    long turns() const;
    // Closes every connection and the listening socket; waits for the relay's threads.
    void stop();
    // Whether the time limit closed the relay.
    bool expired() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kordb::bench
