// Encoding of TDS 7.x messages: the tokens a server sends, and the text
// conversions between UTF-8 and the UTF-16LE used on the wire.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Sql.h"

namespace tdsstandin::tds {

enum PacketType : std::uint8_t {
  kSqlBatch = 1,
  kPreTds7Login = 2,
  kRpc = 3,
  kReply = 4,
  kAttention = 6,
  kBulk = 7,
  kTransactionManager = 14,
  kLogin7 = 16,
  kSspi = 17,
  kPrelogin = 18,
};

enum DoneStatus : std::uint16_t {
  kDoneFinal = 0x00,
  kDoneMore = 0x01,
  kDoneError = 0x02,
  kDoneCount = 0x10,
  kDoneAttention = 0x20,
};

// Invalid input (a lone surrogate, a broken UTF-8 sequence) becomes U+FFFD.
std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t units);
std::u16string Utf8ToUtf16(const std::string& s);

// TDS versions as LOGINACK states them (big-endian on the wire).
constexpr std::uint32_t kTds70 = 0x07000000;
constexpr std::uint32_t kTds71 = 0x07010000;
constexpr std::uint32_t kTds72 = 0x72090002;
constexpr std::uint32_t kTds73 = 0x730B0003;
constexpr std::uint32_t kTds74 = 0x74000004;

// The version to acknowledge for the one a LOGIN7 asks for (little-endian in
// LOGIN7): the same one, or 7.4 for anything newer.
std::uint32_t AckVersion(std::uint32_t requested);

class TokenWriter {
 public:
  explicit TokenWriter(std::uint32_t ackVersion) : version_(ackVersion) {}

  void Message(const tdsstandin::Message& m);  // ERROR or INFO
  void EnvChange(std::uint8_t type, const std::string& newValue,
                 const std::string& oldValue);
  void CollationChange();
  void LoginAck(const std::string& programName);
  void Done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t count,
            std::uint8_t token = 0xFD);
  void Result(const ResultSet& rs);
  void ReturnStatus(std::int32_t value);
  // RETURNVALUE of an int output parameter.
  void ReturnInt(std::uint16_t ordinal, const std::string& name,
                 std::int32_t value);

  const std::vector<std::uint8_t>& Bytes() const { return out_; }

 private:
  bool Tds72() const { return (version_ >> 24) >= 0x72; }
  bool Tds71() const { return version_ != kTds70; }
  void U8(std::uint8_t v) { out_.push_back(v); }
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void U64(std::uint64_t v);
  void Utf16(const std::u16string& s);
  void BVarChar(const std::string& s);   // 1-byte length in characters
  void UsVarChar(const std::string& s);  // 2-byte length in characters
  void Collation();
  void PatchLength(std::size_t at);      // 2-byte length after a token byte

  std::uint32_t version_;
  std::vector<std::uint8_t> out_;
};

}  // namespace tdsstandin::tds
