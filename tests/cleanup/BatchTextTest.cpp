// The fixed batch list and the failure text, without a server.
#include <gtest/gtest.h>

#include "cleanup/OpacCleanup.h"
#include "platform/database/Database.h"

namespace tarnwick {
namespace {

std::string BatchText(const CleanupBatch& b) {
  TStrings s;
  s.Add(b.line1);
  if (b.line2) s.Add(b.line2);
  return s.Text();
}

TEST(OpacBatches, HaveTheirExactLengthsOnTheWireAndNoMarkers) {
  const std::size_t lengths[9] = {25, 28, 28, 28, 119, 119, 119, 119, 115};
  for (std::size_t i = 0; i < kOpacBatches.size(); ++i) {
    const std::string text = BatchText(kOpacBatches[i]);
    EXPECT_EQ(text.size(), lengths[i]) << "batch " << i + 1;
    EXPECT_EQ(text.find(':'), std::string::npos) << "batch " << i + 1;
    EXPECT_EQ(text.find('?'), std::string::npos) << "batch " << i + 1;
  }
  EXPECT_EQ(BatchText(kOpacBatches[0]), "DROP table lib_opac_ver\r\n");
  EXPECT_EQ(BatchText(kOpacBatches[8]),
            "IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND "
            "NAME = 'T_CHG_cunfang')\r\nDROP TRIGGER T_CHG_cunfang\r\n");
}

TEST(CleanupFailureText, ListsTheNamesThenTheServerMessage) {
  CleanupOutcome ok;
  EXPECT_EQ(CleanupFailureText(ok), "");

  CleanupOutcome left;
  left.success = false;
  left.remaining = {"lib_opac_bianma", "T_CHG_cunfang"};
  left.firstError = "Cannot drop the table 'lib_opac_bianma'.";
  EXPECT_EQ(CleanupFailureText(left),
            "清除未完成！以下对象未能删除：\nlib_opac_bianma\nT_CHG_cunfang\n\n"
            "Cannot drop the table 'lib_opac_bianma'.");

  CleanupOutcome unknown;
  unknown.success = false;
  unknown.checkFailed = true;
  unknown.remaining = {"lib_opac_ver"};
  unknown.firstError = "Communication link failure";
  const std::string text = CleanupFailureText(unknown);
  EXPECT_EQ(text.rfind("清除未完成！无法确认以下对象是否已删除：\nlib_opac_ver\n", 0), 0u)
      << text;
  EXPECT_NE(text.find("Communication link failure"), std::string::npos);
}

TEST(OpacCleanup, WithoutAnOpenConnectionNothingIsClaimed) {
  TQuery unbound;
  unbound.DatabaseName = "LibDB";
  const CleanupOutcome outcome = RunOpacCleanup(unbound);
  EXPECT_FALSE(outcome.success);
  EXPECT_TRUE(outcome.checkFailed);
  EXPECT_EQ(outcome.remaining.size(), 9u);
  EXPECT_EQ(outcome.remaining.front(), "lib_opac_ver");
  EXPECT_EQ(outcome.remaining.back(), "T_CHG_cunfang");
  EXPECT_NE(outcome.firstError.find("LibDB"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
