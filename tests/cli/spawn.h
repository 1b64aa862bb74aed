// A tool run as a child process, its output collected: the command-line
// tests' one way of starting a program.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tarvo::test {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs argv[0] with the rest as its arguments; stdin is empty.
inline Outcome spawn(const std::vector<std::string>& argv) {
  int outPipe[2], errPipe[2];
  Outcome r;
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return r;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, 60000) <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace tarvo::test
