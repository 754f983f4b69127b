#include "tests/cli/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace kordb::test {

namespace {

// Reads what is there; false once the other end is gone.
bool drain(int fd, std::string& into) {
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
        into.append(buf, size_t(n));
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    return false;  // EOF, or EIO on a terminal whose last user has gone
}

}  // namespace

Outcome runProgram(const std::filesystem::path& exe, const std::vector<std::string>& args,
                   const RunOptions& options) {
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
    int master = -1, slave = -1;
    bool onTerminal = options.terminalAnswer.has_value();
    if (onTerminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");

    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (onTerminal) {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, STDIN_FILENO);
            ::dup2(slave, STDERR_FILENO);
            ::close(master);
            ::close(slave);
        } else {
            int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            ::close(null);
            ::dup2(errPipe[1], STDERR_FILENO);
        }
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        for (const auto& [name, value] : options.env) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
        std::vector<char*> argv;
        std::string program = exe.string();
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }

    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (onTerminal) {
        ::close(slave);
        ::close(errPipe[0]);
        errPipe[0] = -1;
    }
    Outcome o;
    bool answered = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    std::vector<int> open = {outPipe[0]};
    if (errPipe[0] >= 0) open.push_back(errPipe[0]);
    if (master >= 0) open.push_back(master);
    while (!open.empty()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
        std::vector<pollfd> fds;
        for (int fd : open) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) break;
        for (const pollfd& p : fds) {
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            std::string& into = p.fd == outPipe[0] ? o.out : p.fd == master ? o.terminal : o.err;
            size_t before = into.size();
            if (!drain(p.fd, into)) std::erase(open, p.fd);
            if (p.fd == outPipe[0] && into.size() > before && options.onOutput)
                options.onOutput(into);
        }
        if (master >= 0 && !answered && o.terminal.find("[y/N]") != std::string::npos) {
            std::string line = *options.terminalAnswer + "\n";
            (void)!::write(master, line.data(), line.size());
            answered = true;
        }
    }
    for (int fd : {outPipe[0], errPipe[0], master})
        if (fd >= 0) ::close(fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return o;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace kordb::test
