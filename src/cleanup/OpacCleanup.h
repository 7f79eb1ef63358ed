// The removal of the OPAC function tables and their triggers: nine fixed
// statement batches, run in order, each failure dropped, then a check of what
// remains when any batch failed.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace tarnwick {

class TQuery;

struct CleanupBatch {
  const char* line1;
  const char* line2;  // nullptr for a one-line batch
};

extern const std::array<CleanupBatch, 9> kOpacBatches;

struct CleanupOutcome {
  // True when every batch succeeded, or when the check after a failed batch
  // found none of the nine objects left.
  bool success = true;
  // The names of the objects that are still there, in batch order (empty on
  // success); all nine when the check could not be made.
  std::vector<std::string> remaining;
  // True when the check itself could not be made.
  bool checkFailed = false;
  // The first error message of a batch (or of the check), empty if none.
  std::string firstError;
};

// The query sent after a failed batch: which of the nine objects still exist.
extern const char kOpacCheckQuery[];

// Runs the nine batches over `query` (bound to the open connection), then,
// only if one failed, the check query. Never throws.
CleanupOutcome RunOpacCleanup(TQuery& query);

// The text of the box that reports an unfinished cleanup: a heading, the
// names one per line, a blank line and the server's message. Empty for a
// successful outcome.
std::string CleanupFailureText(const CleanupOutcome& outcome);

}  // namespace tarnwick
