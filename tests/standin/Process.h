// Runs a client program (tsql, isql, the stand-in program) for a test: feeds
// it stdin, collects stdout and stderr together, and kills it when it outlives
// its time limit, so that no test can hang on a client.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace standintest {

struct ProcessResult {
  int exitCode = -1;      // -1: killed or did not exit normally
  bool timedOut = false;
  std::string output;     // stdout and stderr, interleaved
  std::chrono::milliseconds elapsed{0};
};

ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
                  std::chrono::milliseconds limit);

// A program left running in the background (the standalone stand-in).
class Background {
 public:
  explicit Background(const std::vector<std::string>& argv);
  ~Background();  // kills the program if it still runs
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // The next line of stdout, or "" with ok=false when none comes in time.
  std::string ReadLine(std::chrono::milliseconds limit, bool& ok);
  void Signal(int sig);
  // Waits for the exit; -1 when the program has not ended within the limit
  // or did not exit normally.
  int Wait(std::chrono::milliseconds limit);

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

}  // namespace standintest
