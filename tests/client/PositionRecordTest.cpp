// A reply becomes a record in the natural field order whatever order the dictionary keeps;
// anything short of ten numbers is refused with a word on what is missing.
#include "PositionRecord.h"

#include <gtest/gtest.h>

#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"

namespace {

class PositionRecordTest : public ::testing::Test
{
protected:
  // The bridge's record: each field's value is its natural index + 0.5, added in the order
  // the bridge's dictionary iterates.
  BaseDictionary* bridgeReply()
  {
    BaseDictionary* reply = new (eRetainAutorelease) BaseDictionary();
    for (const char* key : {"pitch", "course", "altitude", "roll", "yaw", "accelerationZ", "longitude",
                            "speed", "latitude", "slip"}) {
      int index = 0;
      while (std::string(PositionRecord::FIELD_NAMES[index]) != key) ++index;
      reply->setObjectForKey(new (eRetainAutorelease) BaseNumber(index + 0.5), key);
    }
    return reply;
  }

  BaseAutorelease m_pool;
  PositionRecord m_record;
  std::string m_problem;
};

TEST_F(PositionRecordTest, FieldsComeInTheNaturalOrder)
{
  ASSERT_TRUE(PositionRecord::fromReply(bridgeReply(), m_record, m_problem)) << m_problem;
  for (int i = 0; i < PositionRecord::FIELD_COUNT; ++i) EXPECT_EQ(m_record.values[i], i + 0.5) << i;
}

TEST_F(PositionRecordTest, IncompleteOrForeignRepliesAreRefusedWithTheReason)
{
  BaseDictionary* reply = bridgeReply();
  reply->removeObjectForKey("slip");
  EXPECT_FALSE(PositionRecord::fromReply(reply, m_record, m_problem));
  EXPECT_EQ(m_problem, "nothing under \"slip\"");

  EXPECT_FALSE(PositionRecord::fromReply(new (eRetainAutorelease) BaseString("1"), m_record, m_problem));
  EXPECT_EQ(m_problem, "a BaseString instead of a dictionary");
}

}  // namespace
