#include "platform/registry/RegFileHive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "platform/registry/RegText.h"

namespace tarnwick {
namespace {

using regtext::RegDocument;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { if (fd_ >= 0) ::close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::string DirOf(const std::string& file) {
  const std::filesystem::path p(file);
  const std::string d = p.parent_path().string();
  return d.empty() ? "." : d;
}

// The file as found on disk.
struct Snapshot {
  bool readable = false;   // false: unreadable, too large or not a regular file
  bool exists = false;
  struct stat st {};
  RegDocument doc;
};

Snapshot ReadSnapshot(const std::string& file) {
  Snapshot snap;
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.ok()) {
    snap.readable = errno == ENOENT;  // a missing file is an empty hive
    return snap;
  }
  if (::fstat(fd.get(), &snap.st) != 0 || !S_ISREG(snap.st.st_mode) ||
      snap.st.st_size > RegFileHive::kMaxFileBytes)
    return snap;
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(snap.st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return snap;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
    if (static_cast<long long>(bytes.size()) > RegFileHive::kMaxFileBytes) return snap;
  }
  snap.exists = snap.readable = true;
  snap.doc = RegDocument::Parse(bytes);
  return snap;
}

RegValueInfo InfoOf(const RegDocument& doc, const std::string& key, const std::string& name) {
  RegValueInfo info;
  const regtext::ValueEntry* v = doc.FindValue(key, name);
  if (!v) return info;
  info.exists = true;
  if (!v->data.parsed) {
    info.unparsable = true;
    return info;
  }
  info.type = v->data.type;
  info.dataSize = v->data.dataSize;
  info.text = v->data.text;
  return info;
}

// The exclusive lock that serialises writers: an advisory lock on the hive's
// folder. The file itself is replaced by each change, so a lock on it would
// not outlive the change.
class WriterLock {
 public:
  static std::optional<WriterLock> Take(const std::string& dir) {
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec)) {
      std::filesystem::create_directories(dir, ec);
      if (ec) return std::nullopt;
    }
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.ok()) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(RegFileHive::kLockWaitMs);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline)
        return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WriterLock(std::move(fd));
  }
  int dirFd() const { return fd_.get(); }

 private:
  explicit WriterLock(Fd fd) : fd_(std::move(fd)) {}
  Fd fd_;  // closing it releases the lock
};

// Whether this process may replace the file: it needs to write the folder and,
// when the file exists, to write the file (the user the file denies writing
// must not change it by replacing it).
bool MayReplace(const std::string& file, const Snapshot& snap) {
  if (::faccessat(AT_FDCWD, DirOf(file).c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
  return !snap.exists || ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Replaces the file with `doc`, atomically and durably.
bool Commit(const std::string& file, const Snapshot& snap, const RegDocument& doc, int dirFd) {
  const std::filesystem::path p(file);
  std::string tmp = (std::filesystem::path(DirOf(file)) / ("." + p.filename().string() + ".tmpXXXXXX")).string();
  Fd fd(::mkstemp(tmp.data()));
  if (!fd.ok()) return false;
  const mode_t mode = snap.exists ? (snap.st.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd.get(), mode) == 0;
  if (ok && snap.exists && ::geteuid() == 0) {
    // Root keeps the file's owner; failing that is not worth losing the save.
    if (::fchown(fd.get(), snap.st.st_uid, snap.st.st_gid) != 0) {}
  }
  ok = ok && WriteAll(fd.get(), doc.Serialize()) && ::fsync(fd.get()) == 0;
  ok = ok && ::rename(tmp.c_str(), file.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  ::fsync(dirFd);
  return true;
}

}  // namespace

class RegFileHive::ReadKey : public RegistryKey {
 public:
  ReadKey(RegDocument doc, std::string path) : doc_(std::move(doc)), path_(std::move(path)) {}
  RegValueInfo ReadValue(const std::string& name) override { return InfoOf(doc_, path_, name); }
  bool WriteSz(const std::string&, const std::string&) override { return false; }

 private:
  RegDocument doc_;
  std::string path_;
};

// Holds the writer lock for its whole life, so that the values one operation
// writes are not interleaved with another writer's. Each write is committed
// on its own, so values written before a failed one stay written.
class RegFileHive::WriteKey : public RegistryKey {
 public:
  WriteKey(RegFileHive& hive, WriterLock lock, std::string path)
      : hive_(hive), lock_(std::move(lock)), path_(std::move(path)) {}

  RegValueInfo ReadValue(const std::string& name) override {
    const Snapshot snap = ReadSnapshot(hive_.file_);
    return InfoOf(snap.doc, path_, name);
  }

  bool WriteSz(const std::string& name, const std::string& text) override {
    Snapshot snap = ReadSnapshot(hive_.file_);
    if (!snap.readable || !MayReplace(hive_.file_, snap)) return false;
    if (!snap.doc.SetSz(path_, name, text)) return false;
    return Commit(hive_.file_, snap, snap.doc, lock_.dirFd());
  }

 private:
  RegFileHive& hive_;
  WriterLock lock_;
  std::string path_;
};

RegFileHive::RegFileHive(std::string path) : file_(std::move(path)) {}

bool RegFileHive::KeyExists(const std::string& path) {
  const Snapshot snap = ReadSnapshot(file_);
  return snap.readable && snap.doc.KeyExists(path);
}

std::unique_ptr<RegistryKey> RegFileHive::OpenForRead(const std::string& path) {
  Snapshot snap = ReadSnapshot(file_);
  if (!snap.readable || !snap.doc.KeyExists(path)) return nullptr;
  return std::make_unique<ReadKey>(std::move(snap.doc), path);
}

std::unique_ptr<RegistryKey> RegFileHive::OpenForWrite(const std::string& path, bool create) {
  std::optional<WriterLock> lock = WriterLock::Take(DirOf(file_));
  if (!lock) return nullptr;
  Snapshot snap = ReadSnapshot(file_);
  // A file that cannot be read is never replaced: its content would be lost.
  if (!snap.readable || !MayReplace(file_, snap)) return nullptr;
  if (!snap.doc.KeyExists(path)) {
    if (!create) return nullptr;
    snap.doc.AddKey(path);
    if (!Commit(file_, snap, snap.doc, lock->dirFd())) return nullptr;
  }
  return std::make_unique<WriteKey>(*this, std::move(*lock), path);
}

bool RegFileHive::CreateKey(const std::string& path) {
  std::optional<WriterLock> lock = WriterLock::Take(DirOf(file_));
  if (!lock) return false;
  Snapshot snap = ReadSnapshot(file_);
  if (!snap.readable || !MayReplace(file_, snap)) return false;
  if (snap.doc.KeyExists(path)) return true;
  snap.doc.AddKey(path);
  return Commit(file_, snap, snap.doc, lock->dirFd());
}

}  // namespace tarnwick
