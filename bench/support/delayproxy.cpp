// delayproxy: an office network on loopback. Accepts TCP connections on 127.0.0.1:PORT and relays
// each to a PostgreSQL server's Unix socket, holding every piece of data for DELAY microseconds
// in each direction, so that a round trip costs twice the delay as over a LAN.
//
//     delayproxy PORT /tmp/pg/.s.PGSQL.5432 500 [LOSE_COMMIT_FILE]
//
// PORT 0 lets the system choose a free port; the port listened on is printed on standard output
// as the first line, once the proxy accepts connections.
//
// With LOSE_COMMIT_FILE, a network that fails at the worst moment: when a client sends COMMIT
// while that file exists, the proxy removes the file, relays the COMMIT, and when the server's
// answer comes, drops it and closes both ends of that connection. The server has committed; the
// client sees its connection lost during COMMIT. One file, one lost answer.
//
// Runs until killed. One thread, poll(); data keep their order in each direction.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::string data;
};

// One direction of a relayed connection: what was read from one end, waiting to go to the other.
struct Pipe {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    bool closed = false; // the reading end closed; close the writing end once the queue is empty
};

// The client's side of the protocol, followed only as far as telling its COMMITs: the startup
// messages (untyped: length, code) until the startup packet proper, then typed messages.
struct ClientMessages {
    std::string buffer;
    bool started = false;
};

struct Relay {
    Pipe up;   // client to server
    Pipe down; // server to client
    bool done = false;
    ClientMessages client;
    bool loseAnswer = false; // the next data from the server is the answer to a COMMIT to lose
};

std::uint32_t bigEndian32(const std::string& s, std::size_t at)
{
    return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16 |
           std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint32_t(std::uint8_t(s[at + 3]));
}

// True for the text of a simple query that is a COMMIT ("COMMIT", "commit;" …).
bool isCommit(std::string text)
{
    while (!text.empty() &&
           (text.back() == '\0' || text.back() == ';' || text.back() == ' ' || text.back() == '\n'))
        text.pop_back();
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text == "COMMIT" || text == "END" || text == "COMMIT TRANSACTION" ||
           text == "COMMIT WORK";
}

// Follows the messages \p data adds to the client's stream; true when one of them is a COMMIT.
bool sendsCommit(ClientMessages& m, const char* data, std::size_t size)
{
    constexpr std::uint32_t kSslRequest = 80877103;
    constexpr std::uint32_t kGssRequest = 80877104;
    m.buffer.append(data, size);
    bool commit = false;
    for (;;) {
        if (!m.started) {
            if (m.buffer.size() < 8)
                break;
            const std::uint32_t length = bigEndian32(m.buffer, 0);
            if (length < 8 || m.buffer.size() < length)
                break;
            const std::uint32_t code = bigEndian32(m.buffer, 4);
            m.started = code != kSslRequest && code != kGssRequest;
            m.buffer.erase(0, length);
            continue;
        }
        if (m.buffer.size() < 5)
            break;
        const std::uint32_t length = bigEndian32(m.buffer, 1);
        if (length < 4 || m.buffer.size() < std::size_t(length) + 1)
            break;
        if (m.buffer[0] == 'Q' && isCommit(m.buffer.substr(5, length - 4)))
            commit = true;
        m.buffer.erase(0, std::size_t(length) + 1);
    }
    return commit;
}

int connectServer(const char* path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path, sizeof addr.sun_path - 1);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// Reads what \p p's source has, queued for later; false when the source has closed.
bool readInto(Relay& r, Pipe& p, std::chrono::microseconds delay, const char* loseCommitFile)
{
    char buffer[65536];
    const ssize_t n = read(p.from, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    if (loseCommitFile && &p == &r.down && r.loseAnswer) {
        // The server's answer to the COMMIT: never delivered, and the connection goes.
        r.done = true;
        return true;
    }
    if (loseCommitFile && &p == &r.up && sendsCommit(r.client, buffer, std::size_t(n)) &&
        unlink(loseCommitFile) == 0)
        r.loseAnswer = true;
    p.queue.push_back({Clock::now() + delay, std::string(buffer, std::size_t(n))});
    return true;
}

// Writes what is due; false when the destination fails.
bool writeDue(Pipe& p)
{
    const auto now = Clock::now();
    while (!p.queue.empty() && p.queue.front().due <= now) {
        std::string& data = p.queue.front().data;
        // A peer that has gone (a server ending the connection) must end only its relay, not
        // the whole proxy through SIGPIPE.
        const ssize_t n = send(p.to, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0)
            return false;
        data.erase(0, std::size_t(n));
        if (!data.empty())
            break; // the socket is full: the rest later
        p.queue.pop_front();
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(
            stderr, "usage: delayproxy PORT SERVER_SOCKET DELAY_MICROSECONDS [LOSE_COMMIT_FILE]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const char* server = argv[2];
    const std::chrono::microseconds delay(std::atol(argv[3]));
    const char* loseCommitFile = argc == 5 ? argv[4] : nullptr;
    std::signal(SIGPIPE, SIG_IGN);

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 64) != 0) {
        std::perror("delayproxy: listen");
        return 1;
    }
    socklen_t length = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
    std::printf("%d\n", int(ntohs(addr.sin_port)));
    std::fflush(stdout);

    std::vector<std::unique_ptr<Relay>> relays;
    for (;;) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        Clock::time_point next = Clock::now() + std::chrono::seconds(1);
        for (const auto& r : relays) {
            for (const Pipe* p : {&r->up, &r->down}) {
                fds.push_back({p->from, short(p->closed ? 0 : POLLIN), 0});
                if (!p->queue.empty() && p->queue.front().due < next)
                    next = p->queue.front().due;
            }
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
        // poll() counts in milliseconds: sleep the rest of a shorter wait exactly.
        if (wait > 0 && wait < 1000) {
            timespec ts{0, long(wait) * 1000};
            ppoll(fds.data(), fds.size(), &ts, nullptr);
        } else {
            poll(fds.data(), fds.size(), wait > 0 ? int(wait / 1000) : 0);
        }

        if (fds[0].revents & POLLIN) {
            const int client = accept(listener, nullptr, nullptr);
            const int target = client >= 0 ? connectServer(server) : -1;
            if (target < 0) {
                if (client >= 0)
                    close(client);
            } else {
                setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
                auto r = std::make_unique<Relay>();
                r->up = {client, target, {}, false};
                r->down = {target, client, {}, false};
                relays.push_back(std::move(r));
            }
        }
        std::size_t i = 1;
        for (const auto& r : relays) {
            for (Pipe* p : {&r->up, &r->down}) {
                if (i < fds.size() && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) &&
                    !p->closed && !readInto(*r, *p, delay, loseCommitFile))
                    p->closed = true;
                ++i;
                if (!writeDue(*p) || (p->closed && p->queue.empty()))
                    r->done = true;
            }
        }
        for (auto it = relays.begin(); it != relays.end();) {
            if ((*it)->done) {
                close((*it)->up.from);
                close((*it)->down.from);
                it = relays.erase(it);
            } else {
                ++it;
            }
        }
    }
}
