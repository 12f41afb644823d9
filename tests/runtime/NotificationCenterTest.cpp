#include "runtime/NotificationCenter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"

namespace {

using Journal = std::vector<std::string>;

// Writes "<id>:<name>" into a shared journal for every message, then runs its hook.
// Counted, so tests can say when it died; two with the same id are isEqual.
class Recorder : public CountedObject
{
public:
  Recorder(int id, Journal* journal) : CountedObject(id), m_journal(journal) {}
  void receiveMessage(BaseString* message, BaseDictionary* info, void* context) override
  {
    EXPECT_GT(getRetainCount(), 0) << "delivered to a dead subscriber";
    if (m_journal) m_journal->push_back(std::to_string(value()) + ":" + message->cString());
    lastInfo = info, lastContext = context, ++received;
    if (onMessage) onMessage(message);
  }
  std::atomic<BaseDictionary*> lastInfo{nullptr};  // several posting threads may deliver at once
  std::atomic<void*> lastContext{nullptr};
  std::atomic<int> received{0};
  std::function<void(BaseString*)> onMessage;

private:
  Journal* m_journal;
};

class NotificationCenterTest : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
  void TearDown() override { m_center->release(); }
  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  Recorder* recorder(int id) { return new (eRetainAutorelease) Recorder(id, &m_journal); }
  Recorder* owned(int id) { return new Recorder(id, &m_journal); }  // for the center to hold alone
  void sub(BaseObject* subscriber, const char* name) { m_center->subscribeForMessage(subscriber, str(name)); }
  void post(const char* name, BaseDictionary* info = nullptr, void* context = nullptr)
  {
    m_center->postMessage(str(name), info, context);
  }
  BaseAutorelease m_pool;
  NotificationCenter* m_center = new NotificationCenter();
  Journal m_journal;
};

// Steps "s1:tick" (subscribe recorder 1 to tick), "u1:tick", "a1" (from all), "p:tick" (post);
// then the journal, and recorder 1's references (the test's own included).
TEST_F(NotificationCenterTest, DeliveriesAndReferencesFollowTheSubscriptions)
{
  const std::tuple<const char*, Journal, int> cases[] = {
      {"s1:tick s9: s2:tick s3:tock p:tick p:tock p:other",  // named in order, then catch-all
       {"1:tick", "2:tick", "9:tick", "3:tock", "9:tock", "9:other"},
       2},
      {"s1:other p:ping", {}, 2},
      {"s1: p:", {"1:", "1:"}, 2},  // an empty name reaches the catch-all twice
      {"s1:tick s1:tick p:tick u1:tick p:tick", {"1:tick", "1:tick", "1:tick"}, 2},
      {"s1:tick s1:tick s1: a1 p:tick", {}, 1},
      {"s1:tick u1:never u2:tick p:tick", {"1:tick"}, 2},
      {"s1:tick s1:tock u1:tick p:tick p:tock", {"1:tock"}, 2},
  };
  for (const auto& [steps, journal, retainCountOfOne] : cases) {
    SCOPED_TRACE(steps);
    BaseAutorelease pool;
    std::map<int, Recorder*> recorders;
    m_journal.clear();
    std::istringstream words(steps);
    for (std::string word; words >> word;) {
      std::string name = word.substr(word.find(':') + 1);
      if (word[0] == 'p') {
        post(name.c_str());
        continue;
      }
      Recorder*& subscriber = recorders[word[1] - '0'];
      if (!subscriber) subscriber = recorder(word[1] - '0');
      if (word[0] == 's') sub(subscriber, name.c_str());
      if (word[0] == 'u') m_center->unsubscribeForMessage(subscriber, str(name.c_str()));
      if (word[0] == 'a') m_center->unsubscribeForAllMessage(subscriber);
    }
    EXPECT_EQ(m_journal, journal);
    EXPECT_EQ(recorders[1]->getRetainCount(), retainCountOfOne);
    m_center->release(), m_center = new NotificationCenter();  // a destroyed center releases its subscribers
    for (auto& [id, subscriber] : recorders) EXPECT_EQ(subscriber->getRetainCount(), 1) << id;
  }
}

TEST_F(NotificationCenterTest, PostsAreLoggedCarryContextAndInfoAndNullsAreIgnored)
{
  LogCapture capture;
  Recorder* session = recorder(1);
  BaseDictionary* info = new (eRetainAutorelease) BaseDictionary();
  BaseString* name = str("NEW_CLIENT");
  m_center->subscribeForMessage(session, name);
  name->setCString("changed");  // the center copied the name
  post("NEW_CLIENT", nullptr, this);
  EXPECT_EQ(session->lastContext.load(), this);
  EXPECT_EQ(session->lastInfo.load(), nullptr);
  post("NEW_CLIENT", info);
  post("changed");
  EXPECT_EQ(session->lastInfo.load(), info);
  EXPECT_EQ(info->getRetainCount(), 1) << "the center keeps no reference to the dictionary";
  m_center->postMessage(nullptr, nullptr, nullptr);
  m_center->subscribeForMessage(nullptr, str("tick"));
  m_center->subscribeForMessage(session, nullptr);
  EXPECT_EQ(m_journal, (Journal{"1:NEW_CLIENT", "1:NEW_CLIENT"}));
  EXPECT_EQ(capture.text(),
            "Debug: message = NEW_CLIENT\nDebug: message = NEW_CLIENT\nDebug: message = changed\n");
  EXPECT_EQ(session->getRetainCount(), 2);
}

TEST_F(NotificationCenterTest, UnsubscribingRemovesThatObjectNotAnEqualOneAndMayDestroyIt)
{
  Recorder *first = recorder(7), *twin = recorder(7);
  ASSERT_TRUE(first->isEqual(twin));
  sub(first, "tick");
  sub(twin, "tick");
  m_center->unsubscribeForMessage(first, str("tick"));
  EXPECT_EQ(first->getRetainCount(), 1);
  post("tick");
  EXPECT_EQ(m_journal, Journal{"7:tick"});
  EXPECT_EQ(twin->received, 1);
  // The center holds the last reference, and the destructor calls back into the center.
  CountedObject* last = nullptr;
  last = new CountedObject(1, [this, &last] { m_center->unsubscribeForAllMessage(last); });
  sub(last, "tick");
  last->release();
  m_center->unsubscribeForMessage(last, str("tick"));
  EXPECT_EQ(CountedObject::destroyed, 1);
}

// Subscriptions changed from inside a delivery: the list taken at the start is delivered.
TEST_F(NotificationCenterTest, SubscriberUnsubscribingItselfOrALaterOneDuringDelivery)
{
  Recorder *leaving = owned(1), *removed = owned(2);
  leaving->onMessage = [this, leaving, removed](BaseString* name) {
    m_center->unsubscribeForMessage(leaving, name);
    m_center->unsubscribeForAllMessage(removed);
    EXPECT_EQ(CountedObject::destroyed, 0);
  };
  sub(leaving, "tick");
  sub(removed, "tick");
  sub(recorder(3), "tick");
  leaving->release();  // the center now holds the only references
  removed->release();
  post("tick");
  EXPECT_EQ(CountedObject::destroyed, 2);
  post("tick");
  EXPECT_EQ(m_journal, (Journal{"1:tick", "2:tick", "3:tick", "3:tick"}));
}

TEST_F(NotificationCenterTest, SubscriberAddedDuringDeliveryHearsFromTheNextAndPostsInsideAreDeliveredAtOnce)
{
  Recorder *relay = recorder(1), *added = recorder(2);
  relay->onMessage = [this, added](BaseString* name) {
    if (strcmp(name->cString(), "tick") == 0) post("tock"), sub(added, "");
  };
  sub(relay, "tick");
  sub(relay, "tock");
  sub(recorder(3), "tick");
  post("tick");
  relay->onMessage = nullptr;
  post("tick");
  EXPECT_EQ(m_journal, (Journal{"1:tick", "1:tock", "3:tick", "1:tick", "3:tick", "2:tick"}));
}

TEST_F(NotificationCenterTest, SharedCenterIsCreatedOnceAndPostsGoOnWhileOtherThreadsSubscribe)
{
  const int posters = 3, posts = 400, churners = 2, rounds = 400, askers = 4;
  std::atomic<int> ready{0};
  auto startTogether = [&] {
    for (ready++; ready.load() < posters + churners + askers;) {
    }
  };
  std::vector<NotificationCenter*> seen(askers, nullptr);
  Recorder *steady = new (eRetainAutorelease) Recorder(1, nullptr),
           *catchAll = new (eRetainAutorelease) Recorder(2, nullptr);
  sub(steady, "tick");
  sub(catchAll, "");
  std::vector<std::thread> threads;
  for (int a = 0; a < askers; ++a)
    threads.emplace_back(
        [&, a] { startTogether(), seen[a] = NotificationCenter::sharedNotificationCenter(); });
  for (int p = 0; p < posters; ++p)
    threads.emplace_back([&] {
      BaseAutorelease pool;
      BaseString* name = str("tick");
      startTogether();
      for (int i = 0; i < posts; ++i) m_center->postMessage(name, nullptr, this);
    });
  for (int c = 0; c < churners; ++c)
    threads.emplace_back([&, c] {
      BaseAutorelease pool;
      BaseString *tick = str("tick"), *own = str(("churn" + std::to_string(c)).c_str());
      startTogether();
      for (int i = 0; i < rounds; ++i) {
        Recorder* passing = new Recorder(100 + c, nullptr);  // dies on whichever thread lets go last
        m_center->subscribeForMessage(passing, tick);
        m_center->subscribeForMessage(passing, own);
        passing->release();
        if (i % 2) m_center->unsubscribeForAllMessage(passing);
        if (i % 2 == 0) m_center->unsubscribeForMessage(passing, tick);
        if (i % 2 == 0) m_center->unsubscribeForMessage(passing, own);
      }
    });
  for (std::thread& thread : threads) thread.join();
  for (NotificationCenter* center : seen) EXPECT_EQ(center, NotificationCenter::sharedNotificationCenter());
  EXPECT_STREQ(seen[0]->getClass(), "NotificationCenter");
  EXPECT_EQ(steady->received, posters * posts);
  EXPECT_EQ(catchAll->received, posters * posts);
  EXPECT_EQ(CountedObject::destroyed, churners * rounds);
  EXPECT_EQ(steady->getRetainCount(), 2);
}

}  // namespace
