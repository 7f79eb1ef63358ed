#include "cleanup/OpacCleanup.h"

#include <algorithm>
#include <exception>

#include "platform/database/Database.h"

namespace tarnwick {

// The texts are sent exactly as written here; the server runs each as one
// batch, where an IF line governs the DROP TRIGGER line after it.
const std::array<CleanupBatch, 9> kOpacBatches = {{
    {"DROP table lib_opac_ver", nullptr},
    {"DROP table lib_opac_bianma", nullptr},
    {"DROP table lib_opac_tiaoma", nullptr},
    {"DROP table lib_opac_change", nullptr},
    {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_INSERT_bianma')",
     "DROP TRIGGER T_INSERT_bianma"},
    {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_INSERT_tiaoma')",
     "DROP TRIGGER T_INSERT_tiaoma"},
    {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_DELETE_bianma')",
     "DROP TRIGGER T_DELETE_bianma"},
    {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_DELETE_tiaoma')",
     "DROP TRIGGER T_DELETE_tiaoma"},
    {"IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_CHG_cunfang')",
     "DROP TRIGGER T_CHG_cunfang"},
}};

const char kOpacCheckQuery[] =
    "SELECT NAME, XTYPE FROM SYSOBJECTS WHERE NAME IN ('lib_opac_ver', "
    "'lib_opac_bianma', 'lib_opac_tiaoma', 'lib_opac_change', "
    "'T_INSERT_bianma', 'T_INSERT_tiaoma', 'T_DELETE_bianma', "
    "'T_DELETE_tiaoma', 'T_CHG_cunfang')";

namespace {

struct Target {
  const char* name;
  const char* xtype;
};

// The objects the batches remove, in batch order, with their SYSOBJECTS type.
constexpr Target kTargets[] = {
    {"lib_opac_ver", "U"},     {"lib_opac_bianma", "U"},
    {"lib_opac_tiaoma", "U"},  {"lib_opac_change", "U"},
    {"T_INSERT_bianma", "TR"}, {"T_INSERT_tiaoma", "TR"},
    {"T_DELETE_bianma", "TR"}, {"T_DELETE_tiaoma", "TR"},
    {"T_CHG_cunfang", "TR"},
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
  });
  return s;
}

// XTYPE is char(2) on the server: a table comes back as "U ".
std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

std::string MessageOf(const std::exception& e) {
  const std::string m = e.what();
  return m.empty() ? "unknown error" : m;
}

}  // namespace

CleanupOutcome RunOpacCleanup(TQuery& query) {
  CleanupOutcome outcome;
  bool anyFailed = false;

  for (const CleanupBatch& batch : kOpacBatches) {
    // Each batch has a guard of its own: whatever it raises, the next batch
    // still runs. The failure is only noted, for the check below.
    try {
      query.SQL.Clear();
      query.SQL.Add(batch.line1);
      if (batch.line2) query.SQL.Add(batch.line2);
      query.ExecSQL();
      query.Close();
    } catch (const std::exception& e) {
      if (!anyFailed) outcome.firstError = MessageOf(e);
      anyFailed = true;
    } catch (...) {
      if (!anyFailed) outcome.firstError = "unknown error";
      anyFailed = true;
    }
  }

  if (!anyFailed) return outcome;

  // A batch failed: a table may simply have been gone already, which is what
  // the user wanted, or the object may still be there (no permission, still
  // referenced, connection lost). Ask the server what is left.
  std::vector<std::vector<std::string>> rows;
  try {
    query.SQL.Clear();
    query.SQL.Add(kOpacCheckQuery);
    rows = query.OpenRows();
    query.Close();
  } catch (const std::exception& e) {
    outcome.success = false;
    outcome.checkFailed = true;
    if (outcome.firstError.empty()) outcome.firstError = MessageOf(e);
    for (const Target& t : kTargets) outcome.remaining.push_back(t.name);
    return outcome;
  } catch (...) {
    outcome.success = false;
    outcome.checkFailed = true;
    if (outcome.firstError.empty()) outcome.firstError = "unknown error";
    for (const Target& t : kTargets) outcome.remaining.push_back(t.name);
    return outcome;
  }

  for (const Target& t : kTargets) {
    const bool present = std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
      return row.size() >= 2 && Lower(Trim(row[0])) == Lower(t.name) &&
             Lower(Trim(row[1])) == Lower(t.xtype);
    });
    if (present) outcome.remaining.push_back(t.name);
  }
  outcome.success = outcome.remaining.empty();
  return outcome;
}

std::string CleanupFailureText(const CleanupOutcome& outcome) {
  if (outcome.success) return {};
  std::string text;
  if (outcome.checkFailed) {
    text = "清除未完成！无法确认以下对象是否已删除：\n";
  } else {
    text = "清除未完成！以下对象未能删除：\n";
  }
  for (const std::string& name : outcome.remaining) text += name + "\n";
  if (!outcome.firstError.empty()) text += "\n" + outcome.firstError;
  return text;
}

}  // namespace tarnwick
