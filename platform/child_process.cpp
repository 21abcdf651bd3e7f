// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace halvex::platform {
namespace {

constexpr auto kGraceAfterStop = std::chrono::seconds(5);

class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool Valid() const { return fds_[0] >= 0; }
    int Read() const { return fds_[0]; }
    int Write() const { return fds_[1]; }
    void CloseRead() { CloseFd(fds_[0]); }
    void CloseWrite() { CloseFd(fds_[1]); }

private:
    static void CloseFd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
    ChildResult result;
    if (argv.empty()) {
        result.startError = "no program given";
        return result;
    }
    Pipe out;
    Pipe err;
    if (!out.Valid() || !err.Valid()) {
        result.startError = std::strerror(errno);
        return result;
    }
    // Found before the fork: the child may only make calls that are safe there.
    std::string program = argv[0];
    if (program.find('/') == std::string::npos) {
        const char* path = std::getenv("PATH");
        std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
        std::string found;
        for (std::size_t start = 0; start <= folders.size();) {
            std::size_t end = folders.find(':', start);
            if (end == std::string::npos) end = folders.size();
            const std::string folder = end > start ? folders.substr(start, end - start) : ".";
            const std::string candidate = folder + "/" + program;
            if (::access(candidate.c_str(), X_OK) == 0) {
                found = candidate;
                break;
            }
            start = end + 1;
        }
        if (found.empty()) {
            result.startError = std::strerror(ENOENT);
            return result;
        }
        program = found;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    Pipe started;  // closed by the exec; carries errno when the exec fails
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = started.Valid() && devNull >= 0 ? ::fork() : -1;
    if (pid == 0) {
        // Its own group, so that a stop reaches its children; the signals this process blocks
        // (a console run takes SIGINT and SIGTERM on one thread) are not passed on.
        ::setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGPIPE, SIGINT, SIGTERM}) ::signal(sig, SIG_DFL);
        // What it writes may hold copies of private files.
        ::umask(077);
        ::dup2(devNull, 0);
        ::dup2(out.Write(), 1);
        ::dup2(err.Write(), 2);
        ::execv(program.c_str(), args.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t told = ::write(started.Write(), &error, sizeof error);
        ::_exit(127);
    }
    if (devNull >= 0) ::close(devNull);
    out.CloseWrite();
    err.CloseWrite();
    started.CloseWrite();
    if (pid < 0) {
        result.startError = std::strerror(errno);
        return result;
    }
    int execError = 0;
    if (::read(started.Read(), &execError, sizeof execError) == static_cast<ssize_t>(sizeof execError)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.startError = std::strerror(execError);
        return result;
    }
    result.started = true;

    std::string errorLine;
    auto takeErrorBytes = [&](const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                if (options.onErrorLine) options.onErrorLine(errorLine);
                errorLine.clear();
            } else if (errorLine.size() < 65536) {
                errorLine += data[i];
            }
        }
    };
    bool outOpen = true;
    bool errOpen = true;
    bool killed = false;
    std::chrono::steady_clock::time_point stoppedAt;
    char buffer[8192];
    while (outOpen || errOpen) {
        if (!result.stopped && options.shouldStop && options.shouldStop()) {
            ::kill(-pid, SIGTERM);
            result.stopped = true;
            stoppedAt = std::chrono::steady_clock::now();
        } else if (result.stopped && !killed && std::chrono::steady_clock::now() - stoppedAt > kGraceAfterStop) {
            // It does not end (stuck in a call that does not return): it is not waited for.
            ::kill(-pid, SIGKILL);
            killed = true;
        }
        pollfd fds[2] = {{outOpen ? out.Read() : -1, POLLIN, 0}, {errOpen ? err.Read() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (fds[0].revents != 0) {
            const ssize_t n = ::read(out.Read(), buffer, sizeof buffer);
            if (n > 0) result.output.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR) outOpen = false;
        }
        if (fds[1].revents != 0) {
            const ssize_t n = ::read(err.Read(), buffer, sizeof buffer);
            if (n > 0) takeErrorBytes(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR) errOpen = false;
        }
    }
    if (!errorLine.empty() && options.onErrorLine) options.onErrorLine(errorLine);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace halvex::platform
