// Many cleanups in one process: connect, the nine batches, close, 500 times,
// through the real ODBC layer, unixODBC, the FreeTDS driver and TCP to the
// SQL Server stand-in. Fails when memory grows or a handle leaks.
//
// ODBC handles are not counted directly: a connection handle left behind
// keeps its socket, which shows in the descriptor count, and a statement or
// environment handle left behind shows in the memory measured here.
#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "OdbcFixture.h"
#include "OpacCatalogue.h"
#include "StandinServer.h"
#include "cleanup/OpacCleanup.h"
#include "platform/database/Database.h"

namespace tarnwick {
namespace {

constexpr int kCycles = 500;
constexpr int kWarmUp = 50;  // caches of the driver manager and driver fill
// Growth allowed from the end of the warm-up to the end, for allocator
// fragmentation; a leak of one connection's buffers per cycle (tens of KiB)
// would exceed it many times over.
constexpr long kAllowedGrowthKiB = 4096;

// AddressSanitizer keeps freed memory in quarantine, so resident memory grows
// under it whatever the program does; there its leak checker stands in for
// the measurement.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif
#else
constexpr bool kMeasureMemory = true;
#endif

long RssKiB() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  return n == 2 ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : -1;
}

int OpenFds() {
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (const dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n - 1;  // the folder's own descriptor
}

// The server closes its end of a connection a moment after the client: waits
// (bounded) until the count settles at or below `limit`.
int SettledFds(int limit) {
  int n = OpenFds();
  for (int i = 0; i < 200 && n > limit; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    n = OpenFds();
  }
  return n;
}

TEST(Soak, FiveHundredCleanupsLeakNeitherMemoryNorHandles) {
  tdsstandin::Server server;
  server.Start();
  test::OdbcFixture odbc(server.Port());

  long rssAfterWarmUp = 0;
  int fdsAfterWarmUp = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int cycle = 1; cycle <= kCycles; ++cycle) {
    server.Seed(test::kAllOpacObjects);
    {
      TDatabase db;
      db.AliasName = odbc.Dsn();
      db.DatabaseName = "LibDB";
      db.Params.Add("USER NAME=sa");
      db.Params.Add("PASSWORD=");
      db.Open();
      ASSERT_TRUE(db.Connected()) << "cycle " << cycle;
      TQuery query;
      query.DatabaseName = "LibDB";
      const CleanupOutcome outcome = RunOpacCleanup(query);
      ASSERT_TRUE(outcome.success) << "cycle " << cycle << ": " << outcome.firstError;
      db.Close();
    }
    ASSERT_FALSE(server.Exists("lib_opac_ver"));
    server.Seed("DROP TABLE lib_cunfang");
    server.ClearRecords();  // the stand-in's own log is not ours to measure
    if (cycle == kWarmUp) {
      fdsAfterWarmUp = SettledFds(1 << 20);
      rssAfterWarmUp = RssKiB();
    }
  }
  const int fds = SettledFds(fdsAfterWarmUp);
  const long rss = RssKiB();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("soak: %d cycles in %.1f s; RSS %ld KiB after %d cycles, %ld KiB at the end; "
              "%d descriptors after %d cycles, %d at the end\n",
              kCycles, seconds, rssAfterWarmUp, kWarmUp, rss, fdsAfterWarmUp, kWarmUp, fds);
  EXPECT_LE(fds, fdsAfterWarmUp) << "file descriptors leak";
  if (kMeasureMemory) {
    ASSERT_GT(rssAfterWarmUp, 0);
    EXPECT_LE(rss - rssAfterWarmUp, kAllowedGrowthKiB) << "memory grows";
  }
}

}  // namespace
}  // namespace tarnwick
