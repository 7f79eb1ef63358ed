#include "StandinServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "Sql.h"
#include "Tds.h"

namespace tdsstandin {

namespace {

constexpr std::size_t kMaxMessage = std::size_t{16} * 1024 * 1024;
constexpr std::size_t kDefaultPacketSize = 4096;

struct Incoming {
  std::uint8_t type = 0;
  std::vector<std::uint8_t> data;
};

bool ReadExact(int fd, std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::recv(fd, p, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

// One client message: the packets up to the one marked end-of-message.
bool ReadMessage(int fd, Incoming& msg) {
  msg.data.clear();
  for (;;) {
    std::uint8_t h[8];
    if (!ReadExact(fd, h, 8)) return false;
    std::size_t len = (h[2] << 8) | h[3];
    if (len < 8) return false;
    msg.type = h[0];
    std::size_t at = msg.data.size();
    if (at + len - 8 > kMaxMessage) return false;
    msg.data.resize(at + len - 8);
    if (!ReadExact(fd, msg.data.data() + at, len - 8)) return false;
    if (h[1] & 0x01) return true;
  }
}

bool SendAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

// Sends a reply, split into packets of the negotiated size.
bool SendReply(int fd, const std::vector<std::uint8_t>& body,
               std::size_t packetSize, std::uint16_t spid) {
  const std::size_t chunk = packetSize - 8;
  std::size_t off = 0;
  std::uint8_t packetId = 1;
  std::vector<std::uint8_t> packet;
  do {
    std::size_t n = std::min(chunk, body.size() - off);
    bool last = off + n == body.size();
    packet.assign(8, 0);
    packet[0] = tds::kReply;
    packet[1] = last ? 0x01 : 0x00;
    packet[2] = static_cast<std::uint8_t>((n + 8) >> 8);
    packet[3] = static_cast<std::uint8_t>((n + 8) & 0xFF);
    packet[4] = static_cast<std::uint8_t>(spid >> 8);
    packet[5] = static_cast<std::uint8_t>(spid & 0xFF);
    packet[6] = packetId++;
    packet.insert(packet.end(), body.begin() + off, body.begin() + off + n);
    if (!SendAll(fd, packet.data(), packet.size())) return false;
    off += n;
  } while (off < body.size());
  return true;
}

std::uint16_t Le16(const std::vector<std::uint8_t>& d, std::size_t at) {
  return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}
std::uint32_t Le32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) |
         (static_cast<std::uint32_t>(d[at + 3]) << 24);
}

// LOGIN7 holds its texts as (offset, length in characters) pairs.
std::string Login7Text(const std::vector<std::uint8_t>& d, std::size_t field,
                       bool password = false) {
  std::size_t off = Le16(d, field);
  std::size_t chars = Le16(d, field + 2);
  if (chars == 0 || off + chars * 2 > d.size()) return {};
  std::vector<std::uint8_t> raw(d.begin() + off, d.begin() + off + chars * 2);
  if (password) {
    // The client swaps each byte's nibbles and XORs it with 0xA5.
    for (auto& b : raw) {
      b ^= 0xA5;
      b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
    }
  }
  return tds::Utf16ToUtf8(raw.data(), chars);
}

Message ServerError(std::int32_t number, std::uint8_t severity,
                    std::string text, std::uint8_t state = 1) {
  Message m;
  m.number = number;
  m.severity = severity;
  m.text = std::move(text);
  m.state = state;
  m.line = 1;
  return m;
}

std::vector<std::string> SplitOnGo(const std::string& sql) {
  std::vector<std::string> batches;
  std::string current;
  std::size_t i = 0;
  while (i <= sql.size()) {
    std::size_t nl = sql.find('\n', i);
    std::string line =
        sql.substr(i, nl == std::string::npos ? std::string::npos : nl - i + 1);
    std::string bare = line;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r' ||
                             bare.back() == ' ' || bare.back() == '\t'))
      bare.pop_back();
    std::size_t start = bare.find_first_not_of(" \t");
    bare = start == std::string::npos ? "" : bare.substr(start);
    if (Fold(bare) == "go") {
      batches.push_back(current);
      current.clear();
    } else {
      current += line;
    }
    if (nl == std::string::npos) break;
    i = nl + 1;
  }
  batches.push_back(current);
  return batches;
}

// One parameter of a remote procedure call, as far as the stand-in reads them:
// integers and texts.
struct RpcParam {
  std::string name;
  bool isNull = true;
  bool isText = false;
  std::string text;
  std::int64_t number = 0;
};

struct RpcCall {
  int procId = 0;        // 10 sp_executesql, 11 sp_prepare, 12 sp_execute,
                         // 13 sp_prepexec, 15 sp_unprepare; 0: by name
  std::string procName;
  std::vector<RpcParam> params;
};

class RpcReader {
 public:
  RpcReader(const std::vector<std::uint8_t>& d, std::size_t at) : d_(d), p_(at) {}

  // False when the request is malformed or uses a type the stand-in does not
  // read.
  bool Read(RpcCall& call) {
    std::uint16_t nameLen;
    if (!U16(nameLen)) return false;
    if (nameLen == 0xFFFF) {
      std::uint16_t id;
      if (!U16(id)) return false;
      call.procId = id;
    } else {
      if (!Text(nameLen, call.procName)) return false;
      static const std::pair<const char*, int> known[] = {
          {"sp_executesql", 10}, {"sp_prepare", 11}, {"sp_execute", 12},
          {"sp_prepexec", 13},   {"sp_unprepare", 15}};
      for (const auto& [n, id] : known)
        if (Fold(call.procName) == n) call.procId = id;
    }
    std::uint16_t options;
    if (!U16(options)) return false;
    while (p_ < d_.size()) {
      if (d_[p_] == 0x80 || d_[p_] == 0xFF) break;  // next call in a batch
      RpcParam param;
      std::uint8_t nameChars, status, type;
      if (!U8(nameChars) || !Text(nameChars, param.name) || !U8(status) ||
          !U8(type))
        return false;
      if (!Value(type, param)) return false;
      call.params.push_back(std::move(param));
    }
    return true;
  }

 private:
  bool Need(std::size_t n) const { return p_ + n <= d_.size(); }
  bool U8(std::uint8_t& v) {
    if (!Need(1)) return false;
    v = d_[p_++];
    return true;
  }
  bool U16(std::uint16_t& v) {
    if (!Need(2)) return false;
    v = Le16(d_, p_);
    p_ += 2;
    return true;
  }
  bool U32(std::uint32_t& v) {
    if (!Need(4)) return false;
    v = Le32(d_, p_);
    p_ += 4;
    return true;
  }
  bool Text(std::size_t chars, std::string& out) {
    if (!Need(chars * 2)) return false;
    out = tds::Utf16ToUtf8(d_.data() + p_, chars);
    p_ += chars * 2;
    return true;
  }
  bool Bytes(std::size_t n, std::string& out, bool wide) {
    if (!Need(n)) return false;
    out = wide ? tds::Utf16ToUtf8(d_.data() + p_, n / 2)
               : std::string(d_.begin() + p_, d_.begin() + p_ + n);
    p_ += n;
    return true;
  }
  bool Value(std::uint8_t type, RpcParam& param) {
    switch (type) {
      case 0x26: {  // INTN
        std::uint8_t max, len;
        if (!U8(max) || !U8(len) || !Need(len) || len > 8) return false;
        if (len == 0) return true;
        std::int64_t v = 0;
        for (int i = len - 1; i >= 0; --i) v = (v << 8) | d_[p_ + i];
        if (len < 8 && (d_[p_ + len - 1] & 0x80)) v -= (std::int64_t{1} << (8 * len));
        p_ += len;
        param.isNull = false;
        param.number = v;
        return true;
      }
      case 0x38: {  // INT4
        std::uint32_t v;
        if (!U32(v)) return false;
        param.isNull = false;
        param.number = static_cast<std::int32_t>(v);
        return true;
      }
      case 0x63:    // NTEXT
      case 0x23: {  // TEXT
        std::uint32_t max, len;
        if (!U32(max) || !Need(5)) return false;
        p_ += 5;  // collation
        if (!U32(len)) return false;
        if (len == 0xFFFFFFFF) return true;
        param.isNull = false;
        param.isText = true;
        return Bytes(len, param.text, type == 0x63);
      }
      case 0xE7:    // NVARCHAR
      case 0xA7: {  // VARCHAR
        std::uint16_t max;
        if (!U16(max) || !Need(5)) return false;
        p_ += 5;
        bool wide = type == 0xE7;
        if (max != 0xFFFF) {
          std::uint16_t len;
          if (!U16(len)) return false;
          if (len == 0xFFFF) return true;
          param.isNull = false;
          param.isText = true;
          return Bytes(len, param.text, wide);
        }
        // (max): the value comes in chunks.
        if (!Need(8)) return false;
        bool null = true;
        for (int i = 0; i < 8; ++i) null = null && d_[p_ + i] == 0xFF;
        p_ += 8;
        if (null) return true;
        std::string raw;
        for (;;) {
          std::uint32_t chunk;
          if (!U32(chunk)) return false;
          if (chunk == 0) break;
          std::string part;
          if (!Bytes(chunk, part, false)) return false;
          raw += part;
        }
        param.isNull = false;
        param.isText = true;
        param.text = wide ? tds::Utf16ToUtf8(
                                reinterpret_cast<const std::uint8_t*>(raw.data()),
                                raw.size() / 2)
                          : raw;
        return true;
      }
      default:
        return false;
    }
  }

  const std::vector<std::uint8_t>& d_;
  std::size_t p_;
};

}  // namespace

struct Server::Impl {
  ServerConfig config;

  mutable std::mutex mu;  // guards everything below
  std::condition_variable stopCv;
  bool stopping = false;
  Catalogue catalogue;
  std::set<std::string> denied;
  std::vector<std::string> batches;
  std::vector<LoginRecord> logins;
  int cutAfter = -1;
  std::chrono::milliseconds loginDelay{0};
  std::chrono::milliseconds batchDelay{0};
  bool refuse = false;
  bool silent = false;
  BatchObserver observer;

  int listenFd = -1;
  int wake[2] = {-1, -1};
  std::uint16_t port = 0;
  std::thread acceptor;

  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  std::mutex connMu;
  std::list<std::unique_ptr<Connection>> connections;
  std::atomic<int> nextSpid{51};

  // Waits d unless the server stops first; returns false when stopping.
  bool Pause(std::chrono::milliseconds d) {
    std::unique_lock<std::mutex> lock(mu);
    stopCv.wait_for(lock, d, [this] { return stopping; });
    return !stopping;
  }

  std::vector<CatalogueObject> ObjectsLocked() const {
    std::vector<CatalogueObject> out;
    for (const auto& e : catalogue.Entries()) {
      CatalogueObject o{e.name, e.xtype, ""};
      if (const CatalogueEntry* p = catalogue.FindId(e.parentId))
        o.parent = p->name;
      if (const TableData* t = catalogue.Data(e.id)) o.rows = t->rows.size();
      out.push_back(o);
    }
    return out;
  }

  // Runs one statement text as a batch and writes its tokens (DONEINPROC
  // inside a procedure call). False when the connection is to be cut.
  enum class Ran { Done, Cancelled, HangUp };
  Ran RunText(int fd, const std::string& text, tds::TokenWriter& w,
              std::uint16_t spid, std::string& database, bool inProc);
  // The batch delay: waits while watching the connection, since the client
  // may cancel (an attention message) when its query timeout expires.
  Ran DelayBatch(int fd, std::chrono::milliseconds d);
  bool RunRpc(int fd, const RpcCall& call, tds::TokenWriter& w,
              std::uint16_t spid,
              std::string& database,
              std::map<std::int32_t, std::string>& prepared);
  void AcceptLoop();
  void Serve(int fd, std::uint16_t spid);
  void ReapFinished();
};

void Server::Impl::ReapFinished() {
  std::lock_guard<std::mutex> lock(connMu);
  for (auto it = connections.begin(); it != connections.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      ::close((*it)->fd);
      it = connections.erase(it);
    } else {
      ++it;
    }
  }
}

Server::Impl::Ran Server::Impl::DelayBatch(int fd,
                                           std::chrono::milliseconds d) {
  const auto end = std::chrono::steady_clock::now() + d;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (stopping) return Ran::HangUp;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return Ran::Done;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    if (r > 0) {
      Incoming m;
      if (!ReadMessage(fd, m) || m.type != tds::kAttention) return Ran::HangUp;
      return Ran::Cancelled;
    }
  }
}

Server::Impl::Ran Server::Impl::RunText(int fd, const std::string& text,
                                        tds::TokenWriter& w, std::uint16_t spid,
                                        std::string& database, bool inProc) {
  std::chrono::milliseconds delay;
  {
    std::lock_guard<std::mutex> lock(mu);
    if (cutAfter == 0) {
      cutAfter = -1;
      return Ran::HangUp;  // without an answer
    }
    if (cutAfter > 0) --cutAfter;
    delay = batchDelay;
  }
  if (delay.count() > 0) {
    Ran waited = DelayBatch(fd, delay);
    if (waited == Ran::Cancelled) {
      // Cancelled before it ran: nothing of it is done or recorded.
      w.Done(tds::kDoneAttention, 0, 0);
      return waited;
    }
    if (waited == Ran::HangUp) return waited;
  }
  std::vector<StatementOutcome> outcomes;
  {
    std::lock_guard<std::mutex> lock(mu);
    batches.push_back(text);
    BatchContext ctx{catalogue, denied, database, config.database,
                     static_cast<std::int32_t>(spid)};
    outcomes = RunBatch(text, ctx);
    if (observer) observer(text, ObjectsLocked());
  }
  const std::uint8_t token = inProc ? 0xFF : 0xFD;
  if (outcomes.empty() && !inProc) w.Done(tds::kDoneFinal, 0, 0);
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const StatementOutcome& o = outcomes[i];
    for (const auto& m : o.messages) w.Message(m);
    if (o.newDatabase) w.EnvChange(1, *o.newDatabase, *o.newDatabase);
    if (o.result) w.Result(*o.result);
    std::uint16_t status = 0;
    if (inProc || i + 1 < outcomes.size()) status |= tds::kDoneMore;
    if (o.error) status |= tds::kDoneError;
    if (o.counted) status |= tds::kDoneCount;
    w.Done(status, o.curCmd, o.count, token);
  }
  return Ran::Done;
}

// The driver sends prepared statements as calls of the system procedures
// sp_prepexec, sp_execute and their kin (unixODBC's isql prepares every
// statement); the stand-in runs their statement text like a batch. Parameter
// markers are not supported.
bool Server::Impl::RunRpc(int fd, const RpcCall& call, tds::TokenWriter& w,
                          std::uint16_t spid, std::string& database,
                          std::map<std::int32_t, std::string>& prepared) {
  auto fail = [&w](std::int32_t number, const std::string& text) {
    w.Message(ServerError(number, 16, text));
    w.Done(tds::kDoneError, 0, 0, 0xFE);
    return true;
  };
  auto textParam = [&call](std::size_t i) -> const RpcParam* {
    if (i < call.params.size() && call.params[i].isText)
      return &call.params[i];
    return nullptr;
  };
  std::size_t statementAt = 0, firstValue = 0;
  switch (call.procId) {
    case 10: statementAt = 0; firstValue = 2; break;  // sp_executesql
    case 11:                                           // sp_prepare
    case 13: statementAt = 2; firstValue = 3; break;  // sp_prepexec
    case 12:                                           // sp_execute
    case 15: {                                         // sp_unprepare
      if (call.params.empty() || call.params[0].isNull)
        return fail(8144, "Procedure or function has too few arguments.");
      auto it = prepared.find(static_cast<std::int32_t>(call.params[0].number));
      if (it == prepared.end())
        return fail(8179, "Could not find prepared statement with handle " +
                              std::to_string(call.params[0].number) + ".");
      if (call.procId == 15) {
        prepared.erase(it);
        w.ReturnStatus(0);
        w.Done(tds::kDoneFinal, 0, 0, 0xFE);
        return true;
      }
      if (call.params.size() > 1)
        return fail(8145, "Parameters are not supported by this stand-in.");
      std::string text = it->second;
      Ran ran = RunText(fd, text, w, spid, database, true);
      if (ran != Ran::Done) return ran == Ran::Cancelled;
      w.ReturnStatus(0);
      w.Done(tds::kDoneFinal, 0, 0, 0xFE);
      return true;
    }
    default:
      return fail(2812, "Could not find stored procedure '" +
                            (call.procName.empty()
                                 ? std::to_string(call.procId)
                                 : call.procName) +
                            "'.");
  }
  const RpcParam* statement = textParam(statementAt);
  if (!statement)
    return fail(8144, "Procedure or function has too few arguments.");
  if (call.params.size() > firstValue)
    return fail(8145, "Parameters are not supported by this stand-in.");
  std::int32_t handle = 0;
  if (call.procId != 10) {
    handle = prepared.empty() ? 1 : prepared.rbegin()->first + 1;
    prepared[handle] = statement->text;
  }
  if (call.procId != 11) {
    Ran ran = RunText(fd, statement->text, w, spid, database, true);
    if (ran != Ran::Done) return ran == Ran::Cancelled;
  }
  w.ReturnStatus(0);
  if (call.procId != 10) w.ReturnInt(0, call.params[0].name, handle);
  w.Done(tds::kDoneFinal, 0, 0, 0xFE);
  return true;
}

void Server::Impl::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    int r = ::poll(fds, 2, 1000);
    if (r < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    ReapFinished();
    if (r <= 0 || !(fds[0].revents & POLLIN)) continue;
    int fd = ::accept(listenFd, nullptr, nullptr);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto conn = std::make_unique<Connection>();
    conn->fd = fd;
    Connection* c = conn.get();
    std::uint16_t spid = static_cast<std::uint16_t>(nextSpid++);
    std::lock_guard<std::mutex> lock(connMu);
    {
      std::lock_guard<std::mutex> stateLock(mu);
      if (stopping) {
        ::close(fd);
        return;
      }
    }
    c->thread = std::thread([this, c, spid] {
      Serve(c->fd, spid);
      ::shutdown(c->fd, SHUT_RDWR);
      c->done = true;
    });
    connections.push_back(std::move(conn));
  }
}

void Server::Impl::Serve(int fd, std::uint16_t spid) {
  bool neverAnswer;
  {
    std::lock_guard<std::mutex> lock(mu);
    neverAnswer = silent;
  }
  if (neverAnswer) {
    // Take whatever comes and never answer, until the client gives up or
    // the server stops.
    std::vector<std::uint8_t> sink(4096);
    while (::recv(fd, sink.data(), sink.size(), 0) > 0) {
    }
    return;
  }

  std::uint32_t version = tds::kTds74;
  std::size_t packetSize = kDefaultPacketSize;
  bool loggedIn = false;
  std::string database = config.database;
  std::map<std::int32_t, std::string> prepared;  // handle -> statement
  Incoming msg;

  while (ReadMessage(fd, msg)) {
    if (msg.type == tds::kPrelogin && !loggedIn) {
      // VERSION, ENCRYPTION (not supported), INSTOPT, THREADID, MARS (off).
      std::vector<std::uint8_t> body = {
          0x00, 0, 26, 0, 6,  //
          0x01, 0, 32, 0, 1,  //
          0x02, 0, 33, 0, 1,  //
          0x03, 0, 34, 0, 0,  //
          0x04, 0, 34, 0, 1,  //
          0xFF,
          13,   0, 0x0F, 0xA1, 0, 0,  // version 13.0.4001
          0x02,                       // ENCRYPT_NOT_SUP
          0x00,                       // instance: default
          0x00};                      // MARS off
      if (!SendReply(fd, body, packetSize, spid)) return;
      continue;
    }

    if (msg.type == tds::kLogin7 && !loggedIn) {
      const auto& d = msg.data;
      if (d.size() < 94) return;
      std::uint32_t requested = Le32(d, 4);
      version = tds::AckVersion(requested);
      std::uint32_t wanted = Le32(d, 8);
      if (wanted >= 512 && wanted <= 32767) packetSize = wanted;
      std::string user = Login7Text(d, 40);
      std::string password = Login7Text(d, 44, true);
      std::string wantedDb = Login7Text(d, 68);

      std::chrono::milliseconds delay;
      {
        std::lock_guard<std::mutex> lock(mu);
        delay = loginDelay;
      }
      if (delay.count() > 0 && !Pause(delay)) return;

      tds::TokenWriter w(version);
      bool accepted;
      {
        std::lock_guard<std::mutex> lock(mu);
        accepted = !refuse && user == config.login &&
                   password == config.password;
        logins.push_back({user, password, accepted});
      }
      if (accepted && !wantedDb.empty() &&
          Fold(wantedDb) != Fold(config.database)) {
        w.Message(ServerError(4060, 11,
                              "Cannot open database \"" + wantedDb +
                                  "\" requested by the login. The login "
                                  "failed."));
        accepted = false;
      }
      if (!accepted) {
        w.Message(ServerError(18456, 14,
                              "Login failed for user '" + user + "'."));
        w.Done(tds::kDoneError, 0, 0);
        SendReply(fd, w.Bytes(), packetSize, spid);
        return;  // the server ends a refused connection
      }
      w.EnvChange(1, config.database, "master");
      w.Message(ServerError(5701, 0,
                            "Changed database context to '" +
                                config.database + "'.",
                            2));
      w.CollationChange();
      w.EnvChange(2, "us_english", "");
      w.Message(ServerError(5703, 0, "Changed language setting to us_english."));
      w.LoginAck("Tarnwick TDS stand-in");
      w.EnvChange(4, std::to_string(packetSize), "4096");
      w.Done(tds::kDoneFinal, 0, 0);
      if (!SendReply(fd, w.Bytes(), packetSize, spid)) return;
      loggedIn = true;
      continue;
    }

    if (!loggedIn) return;  // anything else before a login: hang up

    // From TDS 7.2 on, batches and calls begin with ALL_HEADERS, whose total
    // length comes first.
    std::size_t off = 0;
    if ((msg.type == tds::kSqlBatch || msg.type == tds::kRpc) &&
        (version >> 24) >= 0x72) {
      if (msg.data.size() < 4) return;
      off = Le32(msg.data, 0);
      if (off < 4 || off > msg.data.size()) return;
    }
    tds::TokenWriter w(version);
    switch (msg.type) {
      case tds::kSqlBatch: {
        std::string text = tds::Utf16ToUtf8(msg.data.data() + off,
                                            (msg.data.size() - off) / 2);
        if (RunText(fd, text, w, spid, database, false) == Ran::HangUp) return;
        break;
      }
      case tds::kRpc: {
        RpcCall call;
        if (!RpcReader(msg.data, off).Read(call)) {
          w.Message(ServerError(8009, 16,
                                "The stand-in cannot read this remote "
                                "procedure call."));
          w.Done(tds::kDoneError, 0, 0, 0xFE);
          break;
        }
        if (!RunRpc(fd, call, w, spid, database, prepared)) return;
        break;
      }
      case tds::kAttention:
        // Everything before the attention has been answered in full.
        w.Done(tds::kDoneAttention, 0, 0);
        break;
      case tds::kTransactionManager:
        // No transactions are kept: every statement commits at once.
        w.Done(tds::kDoneFinal, 0, 0);
        break;
      default:
        return;
    }
    if (!SendReply(fd, w.Bytes(), packetSize, spid)) return;
  }
}

Server::Server(ServerConfig config) : impl_(std::make_unique<Impl>()) {
  impl_->config = std::move(config);
}

Server::~Server() { Stop(); }

void Server::Start() {
  Impl& s = *impl_;
  if (s.listenFd >= 0) return;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + strerror(errno));
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(s.config.port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
      ::listen(fd, 16) < 0) {
    int e = errno;
    ::close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1:" +
                             std::to_string(s.config.port) + ": " +
                             strerror(e));
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  if (::pipe2(s.wake, O_CLOEXEC) < 0) {
    ::close(fd);
    throw std::runtime_error(std::string("pipe: ") + strerror(errno));
  }
  s.port = ntohs(addr.sin_port);
  s.listenFd = fd;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    s.stopping = false;
  }
  s.acceptor = std::thread([&s] { s.AcceptLoop(); });
}

void Server::Stop() {
  Impl& s = *impl_;
  if (s.listenFd < 0) return;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    s.stopping = true;
  }
  s.stopCv.notify_all();
  char b = 1;
  (void)!::write(s.wake[1], &b, 1);
  s.acceptor.join();
  {
    std::lock_guard<std::mutex> lock(s.connMu);
    for (auto& c : s.connections) ::shutdown(c->fd, SHUT_RDWR);
    for (auto& c : s.connections) {
      c->thread.join();
      ::close(c->fd);
    }
    s.connections.clear();
  }
  ::close(s.listenFd);
  ::close(s.wake[0]);
  ::close(s.wake[1]);
  s.listenFd = -1;
  s.wake[0] = s.wake[1] = -1;
}

std::uint16_t Server::Port() const { return impl_->port; }

void Server::Seed(const std::string& sql) {
  Impl& s = *impl_;
  std::lock_guard<std::mutex> lock(s.mu);
  for (const std::string& batch : SplitOnGo(sql)) {
    std::string database = s.config.database;
    BatchContext ctx{s.catalogue, s.denied, database, s.config.database, 0};
    for (const auto& o : RunBatch(batch, ctx))
      for (const auto& m : o.messages)
        if (m.severity > 10)
          throw std::runtime_error("Msg " + std::to_string(m.number) + ": " +
                                   m.text);
  }
}

std::vector<CatalogueObject> Server::Objects() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->ObjectsLocked();
}

bool Server::Exists(const std::string& name) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->catalogue.Find(name) != nullptr;
}

std::vector<std::string> Server::Batches() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->batches;
}

std::vector<LoginRecord> Server::Logins() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->logins;
}

void Server::ClearRecords() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->batches.clear();
  impl_->logins.clear();
}

void Server::DenyDrop(const std::string& objectName) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->denied.insert(Fold(objectName));
}

void Server::CutAfterBatches(int n) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->cutAfter = n < 0 ? -1 : n;
}

void Server::SetLoginDelay(std::chrono::milliseconds d) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->loginDelay = d;
}

void Server::SetBatchDelay(std::chrono::milliseconds d) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->batchDelay = d;
}

void Server::RefuseLogins(bool refuse) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->refuse = refuse;
}

void Server::NeverAnswer(bool silent) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->silent = silent;
}

void Server::SetBatchObserver(BatchObserver observer) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->observer = std::move(observer);
}

}  // namespace tdsstandin
