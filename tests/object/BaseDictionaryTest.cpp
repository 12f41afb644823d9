// BaseDictionary: iteration in bucket order and its growth, the index cursor, ownership of
// keys and values, equality and hash, lookups that log, key-value hooks and key-value
// pairs from strings (what every container does with references: ContainersTest).
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
  static BaseDictionary* record(int keys = 10)
  {
    BaseDictionary* dictionary = dict({});
    for (int i = 0; i < keys; i++) dictionary->setCStringForKey(POSITION_KEYS[i], POSITION_KEYS[i]);
    return dictionary;
  }
  static Texts keysByIndex(BaseDictionary* dictionary)
  {
    Texts out;
    for (unsigned i = 0; i < dictionary->count(); i++) out.push_back(text(dictionary->keyAtIndex(i)));
    return out;
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
  EXPECT_EQ(keysByIndex(position),
            (Texts{"pitch", "altitude", "course", "roll", "yaw", "speed", "longitude", "latitude"}));
  position->setCStringForKey("slip", "slip");
  EXPECT_EQ(position->bucketCount(), 16u);
  EXPECT_EQ(keysByIndex(position),
            (Texts{"pitch", "course", "altitude", "roll", "yaw", "longitude", "speed", "latitude", "slip"}));
  position->setCStringForKey("accelerationZ", "accelerationZ");
  const Texts order = {"pitch",         "course",    "altitude", "roll",     "yaw",
                       "accelerationZ", "longitude", "speed",    "latitude", "slip"};
  EXPECT_EQ(position->count(), 10u);
  EXPECT_EQ(texts(position->allKeys()), order);
  EXPECT_EQ(texts(position->allValues()), order);
  EXPECT_EQ(keysByIndex(position), order);
  for (unsigned i = 0; i < position->count(); i++)
    EXPECT_EQ(position->objectForKeyIndex(i), position->objectForKey(position->keyAtIndex(i)));

  // A pair table starts with one bucket per row: three mask hashes with 2, so "a" (128)
  // lands in bucket 0, "b" (131) and "c" (130) in 2.
  const char* const rows[][2] = {{"a", "1"}, {"b", "2"}, {"c", "3"}, {nullptr, nullptr}};
  BaseDictionary* table = new (eRetainAutorelease) BaseDictionary(rows);
  EXPECT_EQ(table->bucketCount(), 3u);
  EXPECT_EQ(keysByIndex(table), (Texts{"a", "c", "b"}));
  EXPECT_EQ(valueOf(table, "c"), "3");
  table->setCStringForKey("4", "d");
  EXPECT_EQ(table->bucketCount(), 6u);
  EXPECT_EQ(keysByIndex(table), (Texts{"c", "a", "b", "d"}));
  const char* const none[][2] = {{nullptr, nullptr}};
  EXPECT_EQ((new (eRetainAutorelease) BaseDictionary(none))->bucketCount(), 8u);
}

TEST_F(BaseDictionaryTest, CursorMovesWithIndicesRemovalsInsertionsAndClearing)
{
  BaseDictionary* position = record();
  EXPECT_EQ(position->keyAtIndex(10), nullptr);
  EXPECT_EQ(position->objectForKeyIndex(10), nullptr);
  EXPECT_EQ(text(position->keyAtIndex(5)), "accelerationZ");
  EXPECT_EQ(text(position->keyAtIndex(2)), "altitude");  // backwards restarts
  EXPECT_EQ(text(position->keyAtIndex(2)), "altitude");
  EXPECT_EQ(text(position->keyAtIndex(4)), "yaw");
  // Removing the entry under the cursor.
  position->removeObjectForKey(position->keyAtIndex(4));
  EXPECT_EQ(text(position->keyAtIndex(5)), "longitude");
  EXPECT_EQ(text(position->keyAtIndex(4)), "accelerationZ");
  EXPECT_EQ(position->keyAtIndex(9), nullptr);
  EXPECT_EQ(text(position->keyAtIndex(8)), "slip");
  position->removeObjectForKey("slip");
  EXPECT_EQ(position->keyAtIndex(8), nullptr);
  EXPECT_EQ(text(position->keyAtIndex(7)), "latitude");
  EXPECT_EQ(dict({})->keyAtIndex(0), nullptr);

  BaseDictionary* dictionary = dict({"a", "b"});
  EXPECT_EQ(text(dictionary->keyAtIndex(1)), "b");
  dictionary->setCStringForKey("i", "i");  // bucket 0 again, ahead of "a"
  EXPECT_EQ(text(dictionary->keyAtIndex(1)), "a");
  for (const char* key : {"c", "d", "e", "f", "g", "h"}) dictionary->setCStringForKey(key, key);
  EXPECT_EQ(keysByIndex(dictionary), (Texts{"a", "c", "b", "e", "d", "g", "f", "i", "h"}));
  dictionary->removeAllObjects();
  EXPECT_EQ(dictionary->count(), 0u);
  EXPECT_EQ(dictionary->bucketCount(), 16u);
  EXPECT_EQ(dictionary->keyAtIndex(0), nullptr);
  dictionary->setCStringForKey("z", "z");
  EXPECT_EQ(text(dictionary->keyAtIndex(0)), "z");
}

TEST_F(BaseDictionaryTest, ReplacingRetainsBeforeReleasingAndRemovalMayTakeTheLastReferenceToTheKey)
{
  BaseDictionary* dictionary = dict({});
  BaseString* key = str("k");
  CountedObject* first = new CountedObject(1);
  dictionary->setObjectForKey(first, key);
  EXPECT_EQ(first->getRetainCount(), 2);
  EXPECT_EQ(key->getRetainCount(), 2);
  // The value it already holds, with the creator's reference gone: it must survive.
  first->release();
  dictionary->setObjectForKey(first, key);
  EXPECT_EQ(first->getRetainCount(), 1);
  // An equal key of its own: the stored key stays, the new one is not kept.
  BaseString* equalKey = str("k");
  CountedObject* second = new (eRetainAutorelease) CountedObject(2);
  dictionary->setObjectForKey(second, equalKey);
  EXPECT_EQ(CountedObject::destroyed, 1);
  EXPECT_EQ(second->getRetainCount(), 2);
  EXPECT_EQ(dictionary->keyAtIndex(0), key);
  EXPECT_EQ(equalKey->getRetainCount(), 1);
  // A stored key that is the only reference to itself: the removal must not touch it after.
  BaseString* only = new BaseString("only");
  dictionary->setObjectForKey(new (eRetainAutorelease) CountedObject(3), only);
  only->release();
  dictionary->removeObjectForKey(dictionary->findEntry(str("only"))->key);
  dictionary->removeObjectForKey("absent");
  EXPECT_EQ(CountedObject::destroyed, 1);  // the third is still the pool's
  EXPECT_EQ(dictionary->count(), 1u);
}

TEST_F(BaseDictionaryTest, EqualityAndHashIgnoreTheInsertionOrder)
{
  // "a" and "i" share bucket 0, so the two orders iterate differently.
  BaseDictionary* forward = dict({"a", "i", "lat"});
  BaseDictionary* backward = dict({"lat", "i", "a"});
  EXPECT_EQ(texts(forward->allKeys()), (Texts{"i", "a", "lat"}));
  EXPECT_EQ(texts(backward->allKeys()), (Texts{"a", "i", "lat"}));
  EXPECT_TRUE(forward->isEqual(backward));
  EXPECT_TRUE(backward->isEqual(forward));
  // Each entry adds key hash ^ value hash: here each key is its value.
  EXPECT_EQ(forward->hash(), 0u);
  EXPECT_EQ(backward->hash(), 0u);
  BaseDictionary* single = dict({});
  single->setCStringForKey("b", "a");  // 128 ^ 131
  EXPECT_EQ(single->hash(), 3u);

  BaseDictionary* base = dict({"a", "b"});
  BaseDictionary* otherValue = dict({"a", "b"});
  otherValue->setCStringForKey("B", "b");
  BaseObject* others[] = {otherValue, dict({"a", "c"}), dict({"a"}), nullptr, arrayOf({})};
  for (BaseObject* other : others) EXPECT_FALSE(base->isEqual(other));
  EXPECT_TRUE(base->isEqual(base));
  BaseTypedDictionary<BaseString>* typed = new (eRetainAutorelease) BaseTypedDictionary<BaseString>();
  typed->setCStringForKey("b", "b");
  typed->setCStringForKey("a", "a");
  EXPECT_TRUE(typed->isOfClass("BaseDictionary"));
  EXPECT_TRUE(base->isEqual(typed));
  EXPECT_EQ(text(typed->objectForKey("a")), "a");
}

TEST_F(BaseDictionaryTest, NullKeysAndValuesAreRefusedAndLoggedAbsentKeysQuietly)
{
  BaseDictionary* dictionary = dict({"a"});
  LogCapture log;
  EXPECT_EQ(dictionary->objectForKey("zz"), nullptr);
  dictionary->removeObjectForKey(str("zz"));
  EXPECT_EQ(log.text(), "");
  dictionary->setObjectForKey(str("v"), (BaseString*)nullptr);
  dictionary->setObjectForKey(str("v"), (const char*)nullptr);
  dictionary->setObjectForKey(nullptr, "b");
  dictionary->setCStringForKey(nullptr, "b");
  dictionary->setObjectForKey(str("v"), new (eRetainAutorelease) OddKey("b"));
  EXPECT_EQ(dictionary->_setValueForKeyInternal(nullptr, str("a")), -1);
  EXPECT_EQ(dictionary->objectForKey((BaseString*)nullptr), nullptr);
  EXPECT_EQ(dictionary->objectForKey((const char*)nullptr), nullptr);
  dictionary->removeObjectForKey((BaseString*)nullptr);
  EXPECT_EQ(BaseDictionary::objectForKey((BaseDictionary*)nullptr, str("cmd_id")), nullptr);
  EXPECT_EQ(BaseDictionary::objectForKey((BaseDictionary*)nullptr, "user"), nullptr);
  EXPECT_EQ(log.text(),
            "Error: NULL key, value not stored\n"
            "Error: NULL key, value not stored\n"
            "Error: NULL value for key 'b', not stored\n"
            "Error: NULL value for key 'b', not stored\n"
            "Error: key of class OddKey, value not stored\n"
            "Error: NULL value for key 'a', not stored\n"
            "Error: lookup of a NULL key\n"
            "Error: lookup of a NULL key\n"
            "Error: removal of a NULL key\n"
            "Error: 'cmd_id' with NULL\n"
            "Error: 'user' with NULL\n");
  EXPECT_EQ(dictionary->count(), 1u);
  EXPECT_EQ(text((BaseString*)BaseDictionary::objectForKey(dictionary, "a")), "a");
  EXPECT_DEATH(dictionary->findEntry(nullptr), "aKey.*BaseDictionary");
}

TEST_F(BaseDictionaryTest, IntegersEntriesOfOthersAndKeyValueHooks)
{
  BaseDictionary* dictionary = dict({});
  dictionary->setIntForKey(42, "n");
  dictionary->setIntForKey(-7, str("m"));
  EXPECT_TRUE(dictionary->objectForKey("n")->isOfClass("BaseString"));
  EXPECT_EQ(valueOf(dictionary, "n"), "42");
  EXPECT_EQ(text((BaseString*)dictionary->objectForKey(str("m"))), "-7");

  BaseDictionary* target = dict({"a", "b"});
  BaseDictionary* source = dict({"c"});
  source->setCStringForKey("B", "b");
  target->addEntriesFromDictionary(source);
  target->addEntriesFromDictionary(nullptr);
  target->addEntriesFromDictionary(target);
  EXPECT_EQ(texts(target->allKeys()), (Texts{"a", "c", "b"}));
  EXPECT_EQ(texts(target->allValues()), (Texts{"a", "c", "B"}));
  EXPECT_EQ(source->count(), 2u);

  BaseString* first = str("1");
  EXPECT_EQ(dictionary->_setValueForKeyInternal(first, str("lat")), BaseObject::eKeyObserverAdded);
  EXPECT_EQ(dictionary->_setValueForKeyInternal(str("2"), str("lat")), BaseObject::eKeyObserverReplaced);
  EXPECT_EQ(first->getRetainCount(), 1);
  EXPECT_EQ(text((BaseString*)dictionary->_getValueForKeyInternal(str("lat"))), "2");
  EXPECT_EQ(dictionary->_getValueForKeyInternal(str("lon")), nullptr);
}

TEST_F(BaseDictionaryTest, OnlyTwoPartPiecesOfAStringBecomeEntries)
{
  BaseTypedDictionary<BaseString>* pairs = str("a=1&b=2&&c&d=x=y&=e&a=3")->splitKeyValuePairs("&", "=");
  EXPECT_EQ(pairs->count(), 3u);
  EXPECT_EQ(pairs->getRetainCount(), 1);  // owned by this pool alone
  EXPECT_EQ(valueOf(pairs, "a"), "3");
  EXPECT_EQ(valueOf(pairs, "b"), "2");
  EXPECT_EQ(valueOf(pairs, ""), "e");
  BaseTypedDictionary<BaseString>* spaced = str("txtvers: 1; qtotal: 1")->splitKeyValuePairs("; ", ": ");
  EXPECT_EQ(valueOf(spaced, "qtotal"), "1");
  EXPECT_EQ(spaced->count(), 2u);
  EXPECT_EQ(str("")->splitKeyValuePairs("&", "=")->count(), 0u);
  EXPECT_EQ(str("a=1")->splitKeyValuePairs("&", nullptr)->count(), 0u);
}

}  // namespace
