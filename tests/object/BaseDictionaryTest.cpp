#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"

namespace {

// The ten keys of the position record, in the order the bridge stores them.
const char* const POSITION_KEYS[] = {"latitude", "longitude", "altitude", "speed", "course",
                                     "pitch",    "roll",      "yaw",      "slip",  "accelerationZ"};

// A value with a fixed text in every format, decorated like the framework's own values.
class Literal : public BaseObject
{
public:
  explicit Literal(const char* text) : m_text(text) {}
  BaseString* toString(int flags) override
  {
    return toStringCommon(flags, new (eRetainAutorelease) BaseString(m_text), -1);
  }

private:
  const char* m_text;
};

// A string that does not report itself as one.
class OddKey : public BaseString
{
public:
  using BaseString::BaseString;
  const char* getClass() const override { return "OddKey"; }
};

class BaseDictionaryFixture : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }

  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  static BaseDictionary* dict() { return new (eRetainAutorelease) BaseDictionary(); }
  static BaseDictionary* dictWithKeys(std::initializer_list<const char*> keys)
  {
    BaseDictionary* dictionary = dict();
    for (const char* key : keys) dictionary->setCStringForKey(key, key);
    return dictionary;
  }
  static std::vector<std::string> strings(BaseArray* array)
  {
    std::vector<std::string> out;
    for (unsigned i = 0; i < array->count(); i++)
      out.push_back(static_cast<BaseString*>(array->objectAtIndex(i))->cString());
    return out;
  }
  static std::vector<std::string> keysByIndex(BaseDictionary* dictionary)
  {
    std::vector<std::string> out;
    for (unsigned i = 0; i < dictionary->count(); i++) out.push_back(dictionary->keyAtIndex(i)->cString());
    return out;
  }
  static std::string text(BaseString* value) { return value ? value->cString() : "(null)"; }

  BaseAutorelease pool;
};

class BaseDictionaryOrderTest : public BaseDictionaryFixture
{
};

TEST_F(BaseDictionaryOrderTest, PositionRecordIteratesInBucketOrder)
{
  BaseDictionary* record = dict();
  for (const char* key : POSITION_KEYS) record->setObjectForKey(str(key), key);
  const std::vector<std::string> expected = {"pitch",         "course",    "altitude", "roll",     "yaw",
                                             "accelerationZ", "longitude", "speed",    "latitude", "slip"};
  EXPECT_EQ(record->count(), 10u);
  EXPECT_EQ(record->bucketCount(), 16u);
  EXPECT_EQ(strings(record->allKeys()), expected);
  EXPECT_EQ(strings(record->allValues()), expected);
  EXPECT_EQ(keysByIndex(record), expected);
  for (unsigned i = 0; i < record->count(); i++)
    EXPECT_EQ(record->objectForKeyIndex(i), record->objectForKey(record->keyAtIndex(i)));
}

TEST_F(BaseDictionaryOrderTest, NinthInsertionGrowsAndRehashesInBucketOrder)
{
  BaseDictionary* record = dict();
  for (int i = 0; i < 8; i++) record->setObjectForKey(str(POSITION_KEYS[i]), POSITION_KEYS[i]);
  EXPECT_EQ(record->bucketCount(), 8u);
  // "longitude" and "speed" share bucket 4 of 8, newest first; the rehash reverses them.
  EXPECT_EQ(keysByIndex(record), (std::vector<std::string>{"pitch", "altitude", "course", "roll", "yaw",
                                                           "speed", "longitude", "latitude"}));
  record->setObjectForKey(str("slip"), "slip");
  EXPECT_EQ(record->bucketCount(), 16u);
  EXPECT_EQ(keysByIndex(record), (std::vector<std::string>{"pitch", "course", "altitude", "roll", "yaw",
                                                           "longitude", "speed", "latitude", "slip"}));
  for (int i = 0; i < 9; i++)
    EXPECT_EQ(text((BaseString*)record->objectForKey(POSITION_KEYS[i])), POSITION_KEYS[i]);
}

TEST_F(BaseDictionaryOrderTest, PairTableStartsWithOneBucketPerRow)
{
  // Three buckets mask hashes with 2: "a" (128) lands in bucket 0, "b" (131) and "c" (130) in 2.
  const char* const rows[][2] = {{"a", "1"}, {"b", "2"}, {"c", "3"}, {nullptr, nullptr}};
  BaseDictionary* table = new (eRetainAutorelease) BaseDictionary(rows);
  EXPECT_EQ(table->bucketCount(), 3u);
  EXPECT_EQ(keysByIndex(table), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(text((BaseString*)table->objectForKey("c")), "3");
  table->setCStringForKey("4", "d");
  EXPECT_EQ(table->bucketCount(), 6u);
  EXPECT_EQ(keysByIndex(table), (std::vector<std::string>{"c", "a", "b", "d"}));

  const char* const none[][2] = {{nullptr, nullptr}};
  BaseDictionary* empty = new (eRetainAutorelease) BaseDictionary(none);
  EXPECT_EQ(empty->bucketCount(), 8u);
  empty->setCStringForKey("v", "k");
  EXPECT_EQ(text((BaseString*)empty->objectForKey("k")), "v");
}

class BaseDictionaryCursorTest : public BaseDictionaryFixture
{
};

TEST_F(BaseDictionaryCursorTest, IndicesPastTheEndAndBackwardsRestart)
{
  BaseDictionary* record = dict();
  for (const char* key : POSITION_KEYS) record->setCStringForKey(key, key);
  EXPECT_EQ(record->keyAtIndex(10), nullptr);
  EXPECT_EQ(record->objectForKeyIndex(10), nullptr);
  EXPECT_EQ(text(record->keyAtIndex(5)), "accelerationZ");
  EXPECT_EQ(text(record->keyAtIndex(2)), "altitude");
  EXPECT_EQ(text(record->keyAtIndex(2)), "altitude");
  EXPECT_EQ(text(record->keyAtIndex(9)), "slip");
  EXPECT_EQ(text(record->keyAtIndex(0)), "pitch");
  EXPECT_EQ(dict()->keyAtIndex(0), nullptr);
}

TEST_F(BaseDictionaryCursorTest, RemovingTheEntryUnderTheCursor)
{
  BaseDictionary* record = dict();
  for (const char* key : POSITION_KEYS) record->setCStringForKey(key, key);
  EXPECT_EQ(text(record->keyAtIndex(4)), "yaw");
  record->removeObjectForKey(record->keyAtIndex(4));
  EXPECT_EQ(text(record->keyAtIndex(5)), "longitude");
  EXPECT_EQ(text(record->keyAtIndex(4)), "accelerationZ");
  EXPECT_EQ(record->keyAtIndex(9), nullptr);
  EXPECT_EQ(keysByIndex(record),
            (std::vector<std::string>{"pitch", "course", "altitude", "roll", "accelerationZ", "longitude",
                                      "speed", "latitude", "slip"}));
  // The last entry, with the cursor on it: nothing is left beyond.
  EXPECT_EQ(text(record->keyAtIndex(8)), "slip");
  record->removeObjectForKey("slip");
  EXPECT_EQ(record->keyAtIndex(8), nullptr);
  EXPECT_EQ(text(record->keyAtIndex(7)), "latitude");
}

TEST_F(BaseDictionaryCursorTest, InsertionGrowthAndClearingMoveTheOrder)
{
  BaseDictionary* dictionary = dictWithKeys({"a", "b"});
  EXPECT_EQ(text(dictionary->keyAtIndex(1)), "b");
  dictionary->setCStringForKey("i", "i");  // bucket 0 again, ahead of "a"
  EXPECT_EQ(text(dictionary->keyAtIndex(1)), "a");
  EXPECT_EQ(text(dictionary->keyAtIndex(2)), "b");
  for (const char* key : {"c", "d", "e", "f", "g", "h"}) dictionary->setCStringForKey(key, key);
  EXPECT_EQ(dictionary->bucketCount(), 16u);
  EXPECT_EQ(keysByIndex(dictionary), (std::vector<std::string>{"a", "c", "b", "e", "d", "g", "f", "i", "h"}));
  dictionary->removeAllObjects();
  EXPECT_EQ(dictionary->count(), 0u);
  EXPECT_EQ(dictionary->bucketCount(), 16u);
  EXPECT_EQ(dictionary->keyAtIndex(0), nullptr);
  dictionary->setCStringForKey("z", "z");
  EXPECT_EQ(text(dictionary->keyAtIndex(0)), "z");
}

class BaseDictionaryOwnershipTest : public BaseDictionaryFixture
{
};

TEST_F(BaseDictionaryOwnershipTest, ReplacingAValueRetainsBeforeReleasing)
{
  BaseDictionary* dictionary = dict();
  BaseString* key = str("k");
  CountedObject* first = new CountedObject(1);
  CountedObject* second = new CountedObject(2);
  dictionary->setObjectForKey(first, key);
  EXPECT_EQ(first->getRetainCount(), 2);
  EXPECT_EQ(key->getRetainCount(), 2);
  // The value it already holds, with the creator's reference gone: it must survive.
  first->release();
  dictionary->setObjectForKey(first, key);
  EXPECT_EQ(first->getRetainCount(), 1);
  EXPECT_EQ(CountedObject::destroyed, 0);
  // An equal key of its own: the stored key stays, the new one is not kept.
  BaseString* equalKey = str("k");
  dictionary->setObjectForKey(second, equalKey);
  EXPECT_EQ(CountedObject::destroyed, 1);
  EXPECT_EQ(second->getRetainCount(), 2);
  EXPECT_EQ(dictionary->keyAtIndex(0), key);
  EXPECT_EQ(equalKey->getRetainCount(), 1);
  EXPECT_EQ(dictionary->count(), 1u);
  second->release();
}

TEST_F(BaseDictionaryOwnershipTest, RemovalAndDestructionReleaseEveryKeyAndValue)
{
  BaseDictionary* dictionary = new BaseDictionary();
  for (int i = 0; i < 12; i++) {
    CountedObject* value = new CountedObject(i);
    BaseString* key = new BaseString();
    key->setFormat("key%d", i);
    dictionary->setObjectForKey(value, key);
    key->release();
    value->release();
  }
  // The stored key is the only reference to itself: the removal must not touch it after.
  dictionary->removeObjectForKey(dictionary->keyAtIndex(3));
  EXPECT_EQ(CountedObject::destroyed, 1);
  dictionary->removeObjectForKey("absent");
  EXPECT_EQ(dictionary->count(), 11u);
  dictionary->release();
  EXPECT_EQ(CountedObject::destroyed, 12);
}

TEST_F(BaseDictionaryOwnershipTest, DestructorsThatComeBackToTheDictionary)
{
  BaseDictionary* dictionary = dict();
  unsigned seenCount = 99;
  CountedObject* watcher = new CountedObject(1, [&] { seenCount = dictionary->count(); });
  dictionary->setObjectForKey(watcher, "watcher");
  watcher->release();
  dictionary->setCStringForKey("x", "other");
  dictionary->removeObjectForKey("watcher");
  EXPECT_EQ(seenCount, 1u);

  // Adds an entry while the dictionary is being cleared, to bucket 0 which the clearing
  // has passed ("adder" is in bucket 4): that one is cleared too.
  CountedObject* adder = new CountedObject(2, [&] {
    CountedObject* late = new CountedObject(3);
    dictionary->setObjectForKey(late, "a");
    late->release();
  });
  dictionary->setObjectForKey(adder, "adder");
  adder->release();
  dictionary->removeAllObjects();
  EXPECT_EQ(dictionary->count(), 0u);
  EXPECT_EQ(CountedObject::destroyed, 3);
}

class BaseDictionaryEqualityTest : public BaseDictionaryFixture
{
};

TEST_F(BaseDictionaryEqualityTest, InsertionOrderDoesNotMatter)
{
  // "a" and "i" share bucket 0, so the two orders iterate differently.
  BaseDictionary* forward = dictWithKeys({"a", "i", "lat"});
  BaseDictionary* backward = dictWithKeys({"lat", "i", "a"});
  EXPECT_EQ(strings(forward->allKeys()), (std::vector<std::string>{"i", "a", "lat"}));
  EXPECT_EQ(strings(backward->allKeys()), (std::vector<std::string>{"a", "i", "lat"}));
  EXPECT_TRUE(forward->isEqual(backward));
  EXPECT_TRUE(backward->isEqual(forward));
  EXPECT_EQ(forward->hash(), backward->hash());
  // Each key holds itself as its value, so every entry adds key hash ^ key hash.
  EXPECT_EQ(forward->hash(), 0u);
  EXPECT_EQ(dict()->hash(), 0u);
  BaseDictionary* single = dict();
  single->setCStringForKey("b", "a");  // 128 ^ 131
  EXPECT_EQ(single->hash(), 3u);
}

TEST_F(BaseDictionaryEqualityTest, ValuesKeysCountsAndClassDecide)
{
  BaseDictionary* base = dictWithKeys({"a", "b"});
  BaseDictionary* otherValue = dictWithKeys({"a", "b"});
  otherValue->setCStringForKey("B", "b");
  EXPECT_FALSE(base->isEqual(otherValue));
  EXPECT_FALSE(base->isEqual(dictWithKeys({"a", "c"})));
  EXPECT_FALSE(base->isEqual(dictWithKeys({"a"})));
  EXPECT_FALSE(base->isEqual(nullptr));
  EXPECT_FALSE(base->isEqual(new (eRetainAutorelease) BaseArray()));
  EXPECT_TRUE(base->isEqual(base));
  BaseTypedDictionary<BaseString>* typed = new (eRetainAutorelease) BaseTypedDictionary<BaseString>();
  typed->setCStringForKey("b", "b");
  typed->setCStringForKey("a", "a");
  EXPECT_TRUE(typed->isOfClass("BaseDictionary"));
  EXPECT_TRUE(base->isEqual(typed));
  EXPECT_EQ(text(typed->objectForKey("a")), "a");
}

class BaseDictionaryTextFormTest : public BaseDictionaryFixture
{
protected:
  BaseDictionary* one(const char* key, const char* valueText)
  {
    BaseDictionary* dictionary = dict();
    dictionary->setObjectForKey(new (eRetainAutorelease) Literal(valueText), key);
    return dictionary;
  }
};

TEST_F(BaseDictionaryTextFormTest, KeysPerFormat)
{
  BaseDictionary* lat = one("lat", "1");
  EXPECT_EQ(text(lat->toString(BaseObject::eToStringLua)), "{ lat = 1 }");
  EXPECT_EQ(text(lat->toString(BaseObject::eToStringPlain)), "DICTIONARY ( lat -> 1 )");
  EXPECT_EQ(text(lat->toString(BaseObject::eToStringJSON)), "{ \"lat\" : 1 }");
  EXPECT_EQ(text(lat->toString(BaseObject::eToStringXML)), "<dict> lat  1 </dict>");
  EXPECT_EQ(text(one("my key", "1")->toString(BaseObject::eToStringLua)), "{ [\"my key\"] = 1 }");
  EXPECT_EQ(text(one("1a", "1")->toString(BaseObject::eToStringLua)), "{ [\"1a\"] = 1 }");
  EXPECT_EQ(text(one("_a1", "1")->toString(BaseObject::eToStringLua)), "{ _a1 = 1 }");
  EXPECT_EQ(text(one("q\"\n", "1")->toString(BaseObject::eToStringLua)), "{ [\"q\\\"\\n\"] = 1 }");
  EXPECT_EQ(text(one("q\"", "1")->toString(BaseObject::eToStringJSON)), "{ \"q\\\"\" : 1 }");
  EXPECT_EQ(text(one("", "1")->toString(BaseObject::eToStringLua)), "{ [\"\"] = 1 }");
  EXPECT_EQ(text(dict()->toString(BaseObject::eToStringPlain)), "DICTIONARY (  )");
  EXPECT_EQ(text(dict()->toString(BaseObject::eToStringLua)), "{  }");
  // Values are strings: each written in the same format.
  EXPECT_EQ(text(dictWithKeys({"a", "i"})->toString(BaseObject::eToStringLua)), "{ i = \"i\", a = \"a\" }");
}

TEST_F(BaseDictionaryTextFormTest, DecorationAndLongLayout)
{
  BaseTypedDictionary<BaseString>* typed = new (eRetainAutorelease) BaseTypedDictionary<BaseString>();
  typed->setCStringForKey("x", "lat");
  EXPECT_EQ(text(typed->toString(BaseObject::eToStringLua | BaseObject::eToStringEntryCount)),
            "-- 1 entries \n{ lat = \"x\" }");
  // The values carry the decoration too, and its line feed forces one entry per line.
  EXPECT_EQ(text(typed->toString(BaseObject::eToStringJSON | BaseObject::eToStringClassName)),
            "// BaseDictionary \n{\n  \"lat\" : // BaseString \n  \"x\"\n}");
  BaseDictionary* record = dict();
  for (const char* key : {"latitude", "longitude", "altitude", "speed"})
    record->setObjectForKey(str("0.5"), key);
  EXPECT_EQ(text(record->toString(BaseObject::eToStringLua)),
            "{\n  altitude = \"0.5\",\n  speed = \"0.5\",\n  longitude = \"0.5\",\n  latitude = \"0.5\"\n}");
}

class BaseDictionaryAccessTest : public BaseDictionaryFixture
{
};

TEST_F(BaseDictionaryAccessTest, IntegersAreStoredAsStrings)
{
  BaseDictionary* dictionary = dict();
  dictionary->setIntForKey(42, "n");
  dictionary->setIntForKey(-7, str("m"));
  EXPECT_TRUE(dictionary->objectForKey("n")->isOfClass("BaseString"));
  EXPECT_EQ(text((BaseString*)dictionary->objectForKey("n")), "42");
  EXPECT_EQ(text((BaseString*)dictionary->objectForKey(str("m"))), "-7");
}

TEST_F(BaseDictionaryAccessTest, AbsentKeysAreQuietNullKeysAndValuesAreRefused)
{
  BaseDictionary* dictionary = dictWithKeys({"a"});
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
  EXPECT_EQ(log.text(),
            "Error: NULL key, value not stored\n"
            "Error: NULL key, value not stored\n"
            "Error: NULL value for key 'b', not stored\n"
            "Error: NULL value for key 'b', not stored\n"
            "Error: key of class OddKey, value not stored\n"
            "Error: NULL value for key 'a', not stored\n"
            "Error: lookup of a NULL key\n"
            "Error: lookup of a NULL key\n"
            "Error: removal of a NULL key\n");
  EXPECT_EQ(dictionary->count(), 1u);
  EXPECT_EQ(text((BaseString*)dictionary->objectForKey("a")), "a");
}

TEST_F(BaseDictionaryAccessTest, LookupInNoDictionaryIsLogged)
{
  LogCapture log;
  EXPECT_EQ(BaseDictionary::objectForKey((BaseDictionary*)nullptr, str("cmd_id")), nullptr);
  EXPECT_EQ(BaseDictionary::objectForKey((BaseDictionary*)nullptr, "user"), nullptr);
  EXPECT_EQ(log.text(), "Error: 'cmd_id' with NULL\nError: 'user' with NULL\n");
  BaseDictionary* dictionary = dictWithKeys({"user"});
  EXPECT_EQ(text((BaseString*)BaseDictionary::objectForKey(dictionary, "user")), "user");
}

TEST_F(BaseDictionaryAccessTest, AddingEntriesFromAnotherDictionary)
{
  BaseDictionary* target = dictWithKeys({"a", "b"});
  BaseDictionary* source = dict();
  source->setCStringForKey("B", "b");
  source->setCStringForKey("c", "c");
  target->addEntriesFromDictionary(source);
  target->addEntriesFromDictionary(nullptr);
  target->addEntriesFromDictionary(target);
  EXPECT_EQ(strings(target->allKeys()), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(strings(target->allValues()), (std::vector<std::string>{"a", "c", "B"}));
  EXPECT_EQ(source->count(), 2u);
}

class BaseDictionaryKeyValueTest : public BaseDictionaryFixture
{
};

TEST_F(BaseDictionaryKeyValueTest, HooksReportAddedThenReplaced)
{
  BaseDictionary* dictionary = dict();
  BaseString* first = str("1");
  EXPECT_EQ(dictionary->_setValueForKeyInternal(first, str("lat")), BaseObject::eKeyObserverAdded);
  EXPECT_EQ(dictionary->_setValueForKeyInternal(str("2"), str("lat")), BaseObject::eKeyObserverReplaced);
  EXPECT_EQ(dictionary->count(), 1u);
  EXPECT_EQ(first->getRetainCount(), 1);
  EXPECT_EQ(text((BaseString*)dictionary->_getValueForKeyInternal(str("lat"))), "2");
  EXPECT_EQ(dictionary->_getValueForKeyInternal(str("lon")), nullptr);
}

class BaseDictionarySplitPairsTest : public BaseDictionaryFixture
{
};

TEST_F(BaseDictionarySplitPairsTest, OnlyTwoPartPiecesBecomeEntries)
{
  BaseTypedDictionary<BaseString>* pairs = str("a=1&b=2&&c&d=x=y&=e&a=3")->splitKeyValuePairs("&", "=");
  EXPECT_EQ(pairs->count(), 3u);
  EXPECT_EQ(pairs->getRetainCount(), 1);  // owned by this pool alone
  EXPECT_EQ(text(pairs->objectForKey("a")), "3");
  EXPECT_EQ(text(pairs->objectForKey("b")), "2");
  EXPECT_EQ(text(pairs->objectForKey("")), "e");
  EXPECT_EQ(pairs->objectForKey("d"), nullptr);

  BaseTypedDictionary<BaseString>* spaced = str("txtvers: 1; qtotal: 1")->splitKeyValuePairs("; ", ": ");
  EXPECT_EQ(text(spaced->objectForKey("qtotal")), "1");
  EXPECT_EQ(spaced->count(), 2u);
  EXPECT_EQ(str("")->splitKeyValuePairs("&", "=")->count(), 0u);
  EXPECT_EQ(str("a=1")->splitKeyValuePairs("&", nullptr)->count(), 0u);
}

TEST(BaseDictionaryDeathTest, FindingANullKeyStops)
{
  EXPECT_DEATH(
      {
        BaseAutorelease pool;
        (new (eRetainAutorelease) BaseDictionary())->findEntry(nullptr);
      },
      "aKey.*BaseDictionary");
}

}  // namespace
