// Key-value coding through arrays and dictionaries, and observation of changes: who is
// told, with which flags, and who is not.
#include <functional>

#include "object/BaseDictionary.h"
#include "support/ValueTest.h"

namespace {

class RecordingObserver : public BaseObject
{
public:
  void observedKeyWillChange(BaseString* key, BaseObject* object, void*) override
  {
    events.push_back(std::string("will ") + key->cString());
    lastObject = object;
    if (onWill) onWill();
  }
  void observedKeyDidChange(BaseString* key, BaseObject* object, eKeyObserverFlags flags, void*) override
  {
    events.push_back(std::string("did ") + key->cString() + " " + std::to_string(flags));
    lastObject = object;
  }
  std::vector<std::string> events;
  BaseObject* lastObject = nullptr;
  std::function<void()> onWill;
};

class KeyValueCodingTest : public ValueTest
{
protected:
  static BaseDictionary* dict() { return new (eRetainAutorelease) BaseDictionary(); }
  static RecordingObserver* observer() { return new (eRetainAutorelease) RecordingObserver(); }
};

TEST_F(KeyValueCodingTest, PathsReadThroughDictionariesAndArrays)
{
  BaseDictionary* root = dict();
  BaseDictionary* a = dict();
  a->setObjectForKey(num(5), "b");
  root->setObjectForKey(a, "a");
  BaseArray* items = arrayOf({str("zero"), a});
  root->setObjectForKey(items, "items");

  EXPECT_EQ(static_cast<BaseNumber*>(root->getValueForKeyPath(str("a.b")))->getInteger(), 5);
  EXPECT_EQ(root->getValueForKeyPath(str("items.1.b")), a->objectForKey("b"));
  EXPECT_EQ(root->getValueForKeyPath(str("items.7.b")), nullptr);
  EXPECT_EQ(root->getValueForKeyPath(str("a.missing.deeper")), nullptr);
  EXPECT_EQ(texts(BaseObject::splitKeyPath(str("/a/b"))), (Texts{"a", "b"}));
  EXPECT_EQ(BaseObject::splitKeyPath(str(""))->count() + BaseObject::splitKeyPath(nullptr)->count(), 0u);
}

TEST_F(KeyValueCodingTest, SettingCreatesIntermediatesOfTheRightKindOnlyWhenAsked)
{
  BaseDictionary* root = dict();
  BaseString* x = str("x");
  EXPECT_EQ(root->setValueForKeyPath(x, str("list.0"), nullptr, false), -1);
  EXPECT_EQ(root->count(), 0u);

  EXPECT_EQ(root->setValueForKeyPath(x, str("list.0"), nullptr, true), BaseObject::eKeyObserverAdded);
  BaseObject* list = root->objectForKey("list");
  ASSERT_TRUE(BaseObject::isOfClass(list, "BaseArray"));
  EXPECT_EQ(static_cast<BaseArray*>(list)->objectAtIndex(0), x);

  EXPECT_EQ(root->setValueForKeyPath(x, str("/map/k"), nullptr, true), BaseObject::eKeyObserverAdded);
  EXPECT_TRUE(BaseObject::isOfClass(root->objectForKey("map"), "BaseDictionary"));
  EXPECT_EQ(root->getValueForKeyPath(str("map.k")), x);

  // An array cannot grow by more than one place, nor hold a dictionary key.
  for (const char* path : {"list.5", "list.5.k", ""})
    EXPECT_EQ(root->setValueForKeyPath(x, str(path), nullptr, true), -1);
}

TEST_F(KeyValueCodingTest, ObserversHearAdditionsAndReplacementsButNotTheirOwnChanges)
{
  BaseDictionary* position = dict();
  RecordingObserver* watcher = observer();
  position->addObserverForValueAtKeyPath(watcher, str("lat"));
  position->setValueForKey(num(1), str("lat"), nullptr);
  position->setValueForKey(num(2), str("lat"), nullptr);
  position->setValueForKey(num(3), str("lon"), nullptr);
  EXPECT_EQ(watcher->events, (Texts{"will lat", "did lat 1", "will lat", "did lat 4"}));
  EXPECT_EQ(watcher->lastObject, position);
  position->setValueForKey(num(4), str("lat"), watcher);
  EXPECT_EQ(watcher->events.size(), 4u);
}

TEST_F(KeyValueCodingTest, MaskSelectsTheChangesHeardAndFailuresReachNoOne)
{
  BaseArray* list = new (eRetainAutorelease) BaseArray();
  RecordingObserver* replacements = observer();
  list->addObserverForValueAtKeyPath(replacements, str("0"), BaseObject::eKeyObserverReplaced);
  list->setValueForKey(str("a"), str("0"), nullptr);
  list->setValueForKey(str("b"), str("0"), nullptr);
  list->setValueForKey(str("c"), str("9"), nullptr);
  EXPECT_EQ(replacements->events, (Texts{"will 0", "will 0", "did 0 4"}));
}

TEST_F(KeyValueCodingTest, ObserversOnNestedPathsAreRegisteredOnTheLastOwner)
{
  BaseDictionary* root = dict();
  root->setValueForKeyPath(num(1), str("gps.lat"), nullptr, true);
  RecordingObserver* watcher = observer();
  root->addObserverForValueAtKeyPath(watcher, str("gps.lat"));
  root->addObserverForValueAtKeyPath(watcher, str("missing.lat"));
  root->setValueForKeyPath(num(2), str("gps.lat"), nullptr, false);
  EXPECT_EQ(watcher->events, (Texts{"will lat", "did lat 4"}));
  EXPECT_EQ(watcher->lastObject, root->objectForKey("gps"));
}

TEST_F(KeyValueCodingTest, RemovingAnObserverOrItsObjectReleasesIt)
{
  BaseDictionary* position = dict();
  RecordingObserver* watcher = observer();
  int before = watcher->getRetainCount();
  position->removeObserverForValueAtKeyPath(watcher, str("lat"));  // none yet
  position->addObserverForValueAtKeyPath(watcher, str("lat"));
  position->removeObserverForValueAtKeyPath(watcher, str("lat"));
  EXPECT_EQ(watcher->getRetainCount(), before);
  position->setValueForKey(num(1), str("lat"), nullptr);
  EXPECT_TRUE(watcher->events.empty());
}

TEST_F(KeyValueCodingTest, AnObserverMayUnregisterWhileBeingTold)
{
  BaseDictionary* position = dict();
  RecordingObserver* first = observer();
  RecordingObserver* second = observer();
  position->addObserverForValueAtKeyPath(first, str("lat"));
  position->addObserverForValueAtKeyPath(second, str("lat"));
  first->onWill = [&] {
    position->removeObserverForValueAtKeyPath(first, str("lat"));
    position->removeObserverForValueAtKeyPath(second, str("lat"));
  };
  position->setValueForKey(num(1), str("lat"), nullptr);
  // Both were registered when the change began; neither is by the time it is done.
  EXPECT_EQ(first->events, (Texts{"will lat"}));
  EXPECT_EQ(second->events, (Texts{"will lat"}));
}

}  // namespace
