// Child processes for the hardware-path tests: the device server, the capture daemon and the
// check tool run as the real programs, with pipes to their standard streams.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace hw {

inline double now_s() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

inline void sleep_s(double s) {
  timespec ts{static_cast<time_t>(s), static_cast<long>((s - static_cast<time_t>(s)) * 1e9)};
  nanosleep(&ts, nullptr);
}

class Process {
 public:
  Process() = default;
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;
  ~Process() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
      if (fd >= 0) close(fd);
  }

  // Starts argv[0] with extra environment entries ("NAME=value"); standard input, output and
  // error are pipes.
  bool start(const std::vector<std::string> &argv, const std::vector<std::string> &env = {}) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (const auto &e : env) putenv(const_cast<char *>(e.c_str()));
      std::vector<char *> args;
      for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
    return pid_ > 0;
  }

  void send(const std::string &line) {
    std::string l = line + "\n";
    ssize_t n = write(in_, l.data(), l.size());
    (void)n;
  }

  // The next line of standard output, or false when none came within the timeout (or the
  // stream ended).
  bool read_line(std::string &line, double timeout_s) {
    double end = now_s() + timeout_s;
    for (;;) {
      auto nl = out_buf_.find('\n');
      if (nl != std::string::npos) {
        line = out_buf_.substr(0, nl);
        out_buf_.erase(0, nl + 1);
        return true;
      }
      double left = end - now_s();
      if (left <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
      char buf[4096];
      ssize_t n = read(out_, buf, sizeof buf);
      if (n == 0) return false;
      if (n > 0) out_buf_.append(buf, static_cast<size_t>(n));
      drain_err();
    }
  }

  // Waits for a line starting with prefix; false after the timeout.
  bool wait_for(const std::string &prefix, double timeout_s, std::string *line = nullptr) {
    double end = now_s() + timeout_s;
    std::string l;
    while (read_line(l, end - now_s())) {
      if (l.compare(0, prefix.size(), prefix) == 0) {
        if (line) *line = l;
        return true;
      }
    }
    return false;
  }

  // Everything written on standard error so far.
  const std::string &err() {
    drain_err();
    return err_buf_;
  }

  void signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  // The exit status (128 + signal for a signal), or -1 when it has not ended in time.
  int wait(double timeout_s) {
    double end = now_s() + timeout_s;
    while (pid_ > 0) {
      int ws = 0;
      pid_t r = waitpid(pid_, &ws, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        drain_err();
        status_ = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        break;
      }
      if (now_s() > end) return -1;
      drain_err();
      sleep_s(0.005);
    }
    return status_;
  }

 private:
  void drain_err() {
    char buf[4096];
    ssize_t n;
    while (err_ >= 0 && (n = read(err_, buf, sizeof buf)) > 0)
      err_buf_.append(buf, static_cast<size_t>(n));
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  int status_ = -1;
  std::string out_buf_, err_buf_;
};

// Waits until the process's standard error holds `text`.
inline bool wait_for_err(Process &p, const std::string &text, double timeout_s) {
  double end = now_s() + timeout_s;
  while (p.err().find(text) == std::string::npos) {
    if (now_s() > end) return false;
    sleep_s(0.01);
  }
  return true;
}

}  // namespace hw
