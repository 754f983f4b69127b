#include "bench/relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace kordb::bench {

namespace {

using Clock = std::chrono::steady_clock;
// How long a blocked thread may take to notice that the relay stops.
constexpr int kPollMs = 100;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Without it small messages wait for the peer's delayed acknowledgement, on top of the delay.
void noDelay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool sendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

struct Shared {
    std::atomic<long long> delayUs{0};
    std::atomic<bool> stopping{false};
    std::atomic<long> turns{0};
};

// One direction of one connection: the reader stamps each chunk with the time it may leave,
// the writer sends it then, in the order read.
struct Pipe {
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };
    int from = -1, to = -1;
    bool fromClient = false;
    std::mutex m;
    std::condition_variable cv;
    std::deque<Chunk> held;
    bool eof = false;
    bool sending = false;  // a chunk is on its way out, outside the lock
    std::thread reader, writer;
};

struct Link {
    int client = -1, server = -1;
    // 0 before anything was read, 1 the client, 2 the server.
    std::atomic<int> lastSpoke{0};
    Pipe up, down;

    void breakOff() {
        shutdown(client, SHUT_RDWR);
        shutdown(server, SHUT_RDWR);
    }
};

void readLoop(Pipe& p, Link& l, Shared& s) {
    std::vector<char> buf(64 * 1024);
    while (!s.stopping) {
        pollfd pfd{p.from, POLLIN, 0};
        int r = poll(&pfd, 1, kPollMs);
        if (r == 0 || (r < 0 && errno == EINTR)) continue;
        ssize_t n = r < 0 ? -1 : ::recv(p.from, buf.data(), buf.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        const long long delayUs = s.delayUs;
        const Clock::time_point due = Clock::now() + std::chrono::microseconds(delayUs);
        if (n > 0) {
            if (p.fromClient) {
                if (l.lastSpoke.exchange(1) != 1) ++s.turns;
            } else {
                l.lastSpoke = 2;
            }
        }
        std::unique_lock lock(p.m);
        // Undelayed with nothing ahead of it: sent from here, without a hop to the writer.
        if (n > 0 && delayUs == 0 && p.held.empty() && !p.sending) {
            p.sending = true;
            lock.unlock();
            bool sent = sendAll(p.to, buf.data(), size_t(n));
            lock.lock();
            p.sending = false;
            if (!sent) l.breakOff();
            continue;
        }
        if (n <= 0)
            p.eof = true;
        else
            p.held.push_back({due, std::string(buf.data(), size_t(n))});
        p.cv.notify_all();
        if (n <= 0) break;
    }
}

void writeLoop(Pipe& p, Link& l, Shared& s) {
    std::unique_lock lock(p.m);
    for (;;) {
        p.cv.wait(lock, [&] { return s.stopping || p.eof || !p.held.empty(); });
        if (s.stopping) break;
        if (p.held.empty()) {
            // The sender closed and everything it sent is through: pass the close on.
            shutdown(p.to, SHUT_WR);
            break;
        }
        if (p.cv.wait_until(lock, p.held.front().due, [&] { return s.stopping.load(); })) break;
        std::string bytes = std::move(p.held.front().bytes);
        p.held.pop_front();
        p.sending = true;
        lock.unlock();
        bool sent = sendAll(p.to, bytes.data(), bytes.size());
        lock.lock();
        p.sending = false;
        if (!sent) {
            l.breakOff();
            break;
        }
    }
}

}  // namespace

struct DelayRelay::Impl {
    Shared s;
    std::uint16_t target = 0;
    int listenFd = -1;
    std::uint16_t port = 0;
    Clock::time_point deadline;
    std::atomic<bool> expired{false};
    std::mutex linksM;
    std::vector<std::unique_ptr<Link>> links;
    std::thread acceptor;
    bool stopped = false;

    void wake() {
        s.stopping = true;
        std::lock_guard lock(linksM);
        for (auto& l : links) {
            l->breakOff();
            for (Pipe* p : {&l->up, &l->down}) {
                std::lock_guard pl(p->m);
                p->cv.notify_all();
            }
        }
    }

    void acceptLoop() {
        while (!s.stopping) {
            if (Clock::now() >= deadline) {
                expired = true;
                wake();
                break;
            }
            pollfd pfd{listenFd, POLLIN, 0};
            if (poll(&pfd, 1, kPollMs) <= 0) continue;
            int c = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            int srv = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = loopback(target);
            if (srv < 0 || connect(srv, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
                close(c);
                if (srv >= 0) close(srv);
                continue;
            }
            noDelay(c);
            noDelay(srv);
            auto l = std::make_unique<Link>();
            l->client = c;
            l->server = srv;
            l->up.from = l->down.to = c;
            l->up.to = l->down.from = srv;
            l->up.fromClient = true;
            Link& link = *l;
            for (Pipe* p : {&link.up, &link.down}) {
                p->reader = std::thread(readLoop, std::ref(*p), std::ref(link), std::ref(s));
                p->writer = std::thread(writeLoop, std::ref(*p), std::ref(link), std::ref(s));
            }
            std::lock_guard lock(linksM);
            links.push_back(std::move(l));
        }
    }
};

DelayRelay::DelayRelay(std::uint16_t targetPort, std::chrono::microseconds oneWay,
                       std::chrono::seconds limit)
    : impl_(std::make_unique<Impl>()) {
    Impl& r = *impl_;
    r.target = targetPort;
    r.s.delayUs = oneWay.count();
    r.listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (r.listenFd < 0) throw std::system_error(errno, std::generic_category(), "relay socket");
    const sockaddr_in a = loopback(0);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    if (bind(r.listenFd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        listen(r.listenFd, 16) != 0 ||
        getsockname(r.listenFd, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        int e = errno;
        close(r.listenFd);
        throw std::system_error(e, std::generic_category(), "relay listening socket");
    }
    r.port = ntohs(bound.sin_port);
    r.deadline = Clock::now() + limit;
    r.acceptor = std::thread([&r] { r.acceptLoop(); });
}

DelayRelay::~DelayRelay() {
    stop();
}

std::uint16_t DelayRelay::port() const {
    return impl_->port;
}

void DelayRelay::setDelay(std::chrono::microseconds oneWay) {
    impl_->s.delayUs = oneWay.count();
}

long DelayRelay::turns() const {
    return impl_->s.turns;
}

bool DelayRelay::expired() const {
    return impl_->expired;
}

void DelayRelay::stop() {
    Impl& r = *impl_;
    if (r.stopped) return;
    r.stopped = true;
    r.wake();
    r.acceptor.join();
    // Links the acceptor added while the first wake ran.
    r.wake();
    for (auto& l : r.links) {
        for (Pipe* p : {&l->up, &l->down}) {
            p->reader.join();
            p->writer.join();
        }
        close(l->client);
        close(l->server);
    }
    r.links.clear();
    close(r.listenFd);
}

}  // namespace kordb::bench
