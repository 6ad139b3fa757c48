#include "odd_ports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace marvostell::testing {
namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A socket listening on a free loopback port with this backlog.
int Listen(int backlog, uint16_t *port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

StuckPort::StuckPort() {
    listener_ = Listen(0, &port_);
    // Connect until one does not complete within 200 ms: the queue is full.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        fillers_.push_back(fd);
        const sockaddr_in address = Loopback(port_);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            continue;
        if (errno != EINPROGRESS) break;
        pollfd wait{fd, POLLOUT, 0};
        if (::poll(&wait, 1, 200) == 0) return;
    }
    Close();
    throw std::runtime_error("cannot fill the accept queue of a loopback port");
}

StuckPort::~StuckPort() { Close(); }

void StuckPort::Close() {
    for (int fd : fillers_) ::close(fd);
    fillers_.clear();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

PlainAnswerPort::PlainAnswerPort() {
    listener_ = Listen(8, &port_);
    if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    thread_ = std::thread([this] {
        static const char answer[] =
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        for (;;) {
            pollfd fds[2] = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno == EINTR) continue;
            if (fds[0].revents) return;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            char first[4096];
            pollfd data{fd, POLLIN, 0};
            if (::poll(&data, 1, 2000) > 0 && ::recv(fd, first, sizeof first, 0) > 0)
                ::send(fd, answer, std::strlen(answer), MSG_NOSIGNAL);
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    });
}

PlainAnswerPort::~PlainAnswerPort() {
    if (::write(wake_[1], "x", 1) != 1) ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    for (int fd : {wake_[0], wake_[1], listener_})
        if (fd >= 0) ::close(fd);
}

}  // namespace marvostell::testing
