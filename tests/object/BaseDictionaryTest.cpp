// BaseDictionary: iteration in bucket order and its growth, the index cursor, ownership of
// keys and values, equality and hash, lookups that log, key-value hooks and key-value
// pairs from strings (what every container does with references: ContainersTest).
#include <functional>

#include "object/BaseDictionary.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"
#include "support/ValueTest.h"

namespace {

// The ten keys of the position record, in the order the bridge stores them.
const char* const POSITION_KEYS[] = {"latitude", "longitude", "altitude", "speed", "course",
                                     "pitch",    "roll",      "yaw",      "slip",  "accelerationZ"};

// A string that does not report itself as one.
class OddKey : public BaseString
{
public:
  using BaseString::BaseString;
  const char* getClass() const override { return "OddKey"; }
};

class BaseDictionaryTest : public ValueTest
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
  // Each key holds itself as its value.
  static BaseDictionary* dict(std::initializer_list<const char*> keys)
  {
    BaseDictionary* dictionary = new (eRetainAutorelease) BaseDictionary();
    for (const char* key : keys) dictionary->setCStringForKey(key, key);
    return dictionary;
  }
  static BaseDictionary* record(int keys)
  {
    BaseDictionary* dictionary = dict({});
    for (int i = 0; i < keys; i++) dictionary->setCStringForKey(POSITION_KEYS[i], POSITION_KEYS[i]);
    return dictionary;
  }
  static std::string valueOf(BaseDictionary* dictionary, const char* key)
  {
    return text((BaseString*)dictionary->objectForKey(key));
  }
};

TEST_F(BaseDictionaryTest, IterationFollowsTheBucketsAndTheirGrowth)
{
  BaseDictionary* position = record(8);
  EXPECT_EQ(position->bucketCount(), 8u);
  // "longitude" and "speed" share bucket 4 of 8, newest first; the rehash reverses them.
  EXPECT_EQ(texts(position->allKeys()),
            (Texts{"pitch", "altitude", "course", "roll", "yaw", "speed", "longitude", "latitude"}));
  position->setCStringForKey("slip", "slip");
  EXPECT_EQ(position->bucketCount(), 16u);
  const Texts order = {"pitch", "course", "altitude", "roll", "yaw", "longitude", "speed", "latitude", "slip"};
  EXPECT_EQ(texts(position->allKeys()), order);
  EXPECT_EQ(texts(position->allValues()), order);
  EXPECT_EQ(text((BaseString*)position->objectForKeyIndex(8)), "slip");
  EXPECT_TRUE(position->keyAtIndex(9) == nullptr && position->objectForKeyIndex(9) == nullptr);
  // Removing the entry under the cursor.
  position->removeObjectForKey(position->keyAtIndex(4));
  EXPECT_EQ(text(position->keyAtIndex(4)), "longitude");
  EXPECT_EQ(text(position->keyAtIndex(2)), "altitude");  // backwards restarts

  // A pair table starts with one bucket per row.
  const char* const rows[][2] = {{"a", "1"}, {"b", "2"}, {"c", "3"}, {nullptr, nullptr}};
  BaseDictionary* table = new (eRetainAutorelease) BaseDictionary(rows);
  EXPECT_EQ(table->bucketCount(), 3u);
  EXPECT_EQ(texts(table->allKeys()), (Texts{"a", "c", "b"}));
  table->removeAllObjects();
  EXPECT_EQ(table->count(), 0u);
  EXPECT_EQ((new (eRetainAutorelease) BaseDictionary(rows + 3))->bucketCount(), 8u);  // no rows
  EXPECT_EQ(table->keyAtIndex(0), nullptr);
}

TEST_F(BaseDictionaryTest, ReplacingRetainsBeforeReleasingAndRemovalMayTakeTheLastReferenceToTheKey)
{
  BaseDictionary* dictionary = dict({});
  BaseString* key = str("k");
  CountedObject* first = new CountedObject(1);
  dictionary->setObjectForKey(first, key);
  EXPECT_EQ(first->getRetainCount(), 2);
  // The value it already holds, with the creator's reference gone: it must survive.
  first->release();
  dictionary->setObjectForKey(first, key);
  EXPECT_EQ(first->getRetainCount(), 1);
  // A stored key that is the only reference to itself: the removal must not touch it after.
  BaseString* only = new BaseString("only");
  dictionary->setObjectForKey(new (eRetainAutorelease) CountedObject(3), only);
  only->release();
  dictionary->removeObjectForKey(dictionary->findEntry(str("only"))->key);
  EXPECT_EQ(dictionary->count(), 1u);
}

TEST_F(BaseDictionaryTest, EqualityAndHashIgnoreTheInsertionOrder)
{
  BaseDictionary* forward = dict({"a", "i", "lat"});
  BaseDictionary* backward = dict({"lat", "i", "a"});
  EXPECT_TRUE(forward->isEqual(backward));
  BaseDictionary* single = dict({});
  single->setCStringForKey("b", "a");  // 128 ^ 131
  EXPECT_EQ(single->hash(), 3u);
  EXPECT_TRUE(forward->isEqual(forward));
  for (BaseObject* other :
       {(BaseObject*)dict({"a", "i", "lon"}), (BaseObject*)dict({"a", "i"}), (BaseObject*)str("a")})
    EXPECT_FALSE(forward->isEqual(other));
  BaseDictionary* changed = dict({"a", "i", "lat"});
  changed->setCStringForKey("x", "lat");
  EXPECT_FALSE(forward->isEqual(changed));
}

TEST_F(BaseDictionaryTest, NullKeysAndValuesAreRefusedAndLogged)
{
  BaseDictionary* d = dict({"a"});
  // Each call returns -1 or null where it returns anything, and logs its one Error (or none).
  const std::pair<std::function<bool()>, const char*> refusals[] = {
      {[&] { return d->_setValueForKeyInternal(str("v"), nullptr) == -1; }, "NULL key, value not stored"},
      {[&] { return d->_setValueForKeyInternal(str("v"), new (eRetainAutorelease) OddKey("b")) == -1; },
       "key of class OddKey, value not stored"},
      {[&] { return d->_setValueForKeyInternal(nullptr, str("a")) == -1; },
       "NULL value for key 'a', not stored"},
      {[&] { return !d->objectForKey((BaseString*)nullptr); }, "lookup of a NULL key"},
      {[&] { return !d->objectForKey((const char*)nullptr); }, "lookup of a NULL key"},
      {[&] { return !BaseDictionary::objectForKey((BaseDictionary*)nullptr, "user"); }, "'user' with NULL"},
      {[&] { return !BaseDictionary::objectForKey((BaseDictionary*)nullptr, str("name")); },
       "'name' with NULL"},
      {[&] { return d->setObjectForKey(str("v"), (const char*)nullptr), true; },
       "NULL key, value not stored"},
      {[&] { return d->setCStringForKey(nullptr, "c"), true; }, "NULL value for key 'c', not stored"},
      {[&] { return d->removeObjectForKey((BaseString*)nullptr), true; }, "removal of a NULL key"},
      {[&] { return d->removeObjectForKey((const char*)nullptr), true; }, "removal of a NULL key"},
      {[&] { return d->removeObjectForKey("absent"), d->addEntriesFromDictionary(nullptr), true; }, nullptr}};
  for (const auto& [call, error] : refusals) {
    LogCapture log;
    EXPECT_TRUE(call()) << error;
    EXPECT_EQ(log.text(), error ? std::string("Error: ") + error + "\n" : "");
  }
  EXPECT_EQ(d->count(), 1u);
}

TEST_F(BaseDictionaryTest, IntegersEntriesOfOthersAndKeyValuePairs)
{
  BaseDictionary* target = dict({"a", "b"});
  target->setIntForKey(42, "n");
  target->setIntForKey(-7, str("m"));
  EXPECT_EQ(valueOf(target, "n") + valueOf(target, "m"), "42-7");
  BaseDictionary* source = dict({"c"});
  source->setCStringForKey("B", "b");
  target->addEntriesFromDictionary(source);
  EXPECT_EQ(valueOf(target, "b"), "B");

  BaseTypedDictionary<BaseString>* pairs = str("a=1&b=2&&c&d=x=y&=e&a=3")->splitKeyValuePairs("&", "=");
  EXPECT_EQ(pairs->count(), 3u);
  EXPECT_EQ(valueOf(pairs, "a"), "3");
  EXPECT_EQ(valueOf(pairs, ""), "e");
}

}  // namespace
