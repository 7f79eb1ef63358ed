#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace standintest {

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& argv, int in, int out) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
                  std::chrono::milliseconds limit) {
  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const auto start = Clock::now();
  pid_t pid = Spawn(argv, inPipe[0], outPipe[1]);
  close(inPipe[0]);
  close(outPipe[1]);
  fcntl(inPipe[1], F_SETFL, O_NONBLOCK);

  ProcessResult result;
  std::size_t written = 0;
  int in = inPipe[1];
  if (input.empty()) {
    close(in);
    in = -1;
  }
  bool outOpen = true;
  while (outOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        start + limit - Clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {in, POLLOUT, 0}};
    int r = poll(fds, in >= 0 ? 2 : 1, static_cast<int>(left.count()));
    if (r < 0 && errno != EINTR) break;
    if (fds[0].revents) {
      char buf[4096];
      ssize_t n = read(outPipe[0], buf, sizeof buf);
      if (n > 0)
        result.output.append(buf, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR)
        outOpen = false;
    }
    if (in >= 0 && fds[1].revents) {
      ssize_t n = write(in, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) written = input.size();
      if (written == input.size()) {
        close(in);
        in = -1;
      }
    }
  }
  if (in >= 0) close(in);
  close(outPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = result.timedOut ? -1 : ExitCode(status);
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      Clock::now() - start);
  return result;
}

Background::Background(const std::vector<std::string>& argv) {
  int outPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = Spawn(argv, devnull, outPipe[1]);
  close(devnull);
  close(outPipe[1]);
  out_ = outPipe[0];
}

Background::~Background() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

std::string Background::ReadLine(std::chrono::milliseconds limit, bool& ok) {
  const auto end = Clock::now() + limit;
  for (;;) {
    std::size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      ok = true;
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - Clock::now());
    pollfd fd{out_, POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      ok = false;
      return "";
    }
    char buf[512];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      ok = false;
      return "";
    }
    buffer_.append(buf, static_cast<std::size_t>(n));
  }
}

void Background::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

int Background::Wait(std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (pid_ > 0) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return ExitCode(status);
    }
    if (Clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

}  // namespace standintest
