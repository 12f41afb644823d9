#include "runtime/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"

namespace {

// Writes "<id>:<name>" into a shared journal for every message, then runs its hook.
// Counted, so tests can say when it died; two with the same id are isEqual.
class Recorder : public CountedObject
{
public:
  Recorder(int id, std::vector<std::string>* journal) : CountedObject(id), m_journal(journal) {}

  void receiveMessage(BaseString* message, BaseDictionary* info, void* context) override
  {
    EXPECT_GT(getRetainCount(), 0) << "delivered to a dead subscriber";
    if (m_journal) m_journal->push_back(std::to_string(value()) + ":" + message->cString());
    lastInfo = info;
    lastContext = context;
    ++received;
    if (onMessage) onMessage(message);
  }

  // Atomic: several posting threads may deliver to one recorder at once.
  std::atomic<BaseDictionary*> lastInfo{nullptr};
  std::atomic<void*> lastContext{nullptr};
  std::atomic<int> received{0};
  std::function<void(BaseString*)> onMessage;

private:
  std::vector<std::string>* m_journal;
};

class NotificationCenterTest : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
  void TearDown() override { m_center->release(); }

  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  // Owned by the test's pool; the center's subscriptions add their own references.
  Recorder* recorder(int id) { return new (eRetainAutorelease) Recorder(id, &m_journal); }
  void post(const char* name, BaseDictionary* info = nullptr, void* context = nullptr)
  {
    m_center->postMessage(str(name), info, context);
  }

  BaseAutorelease m_pool;
  NotificationCenter* m_center = new NotificationCenter();
  std::vector<std::string> m_journal;
};

// --- who receives what, in which order, and what the center holds ---

// One step of a scenario: subscribe, unsubscribe, unsubscribe from all, post.
struct Step
{
  char op;  // 's', 'u', 'a', 'p'
  int id;   // recorder, for all but 'p'
  const char* name;
};

TEST_F(NotificationCenterTest, DeliveriesAndReferencesFollowTheSubscriptions)
{
  struct
  {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> journal;
    int retainCountOfOne;  // recorder 1's, the test's own reference included
  } cases[] = {
      {"named subscribers in subscription order, then catch-all",
       {{'s', 1, "tick"},
        {'s', 9, ""},
        {'s', 2, "tick"},
        {'s', 3, "tock"},
        {'p', 0, "tick"},
        {'p', 0, "tock"},
        {'p', 0, "other"}},
       {"1:tick", "2:tick", "9:tick", "3:tock", "9:tock", "9:other"},
       2},
      {"no subscriber for the name", {{'s', 1, "other"}, {'p', 0, "ping"}}, {}, 2},
      {"empty name reaches the catch-all twice", {{'s', 1, ""}, {'p', 0, ""}}, {"1:", "1:"}, 2},
      {"double subscription delivers twice until one unsubscribe",
       {{'s', 1, "tick"}, {'s', 1, "tick"}, {'p', 0, "tick"}, {'u', 1, "tick"}, {'p', 0, "tick"}},
       {"1:tick", "1:tick", "1:tick"},
       2},
      {"unsubscribing from all drops every reference under every name",
       {{'s', 1, "tick"}, {'s', 1, "tick"}, {'s', 1, ""}, {'a', 1, nullptr}, {'p', 0, "tick"}},
       {},
       1},
      {"unknown name or subscriber changes nothing",
       {{'s', 1, "tick"}, {'u', 1, "never"}, {'u', 2, "tick"}, {'p', 0, "tick"}},
       {"1:tick"},
       2},
      {"a subscription per name",
       {{'s', 1, "tick"}, {'s', 1, "tock"}, {'u', 1, "tick"}, {'p', 0, "tick"}, {'p', 0, "tock"}},
       {"1:tock"},
       2},
  };
  for (const auto& scenario : cases) {
    SCOPED_TRACE(scenario.name);
    BaseAutorelease pool;
    std::map<int, Recorder*> recorders;
    m_journal.clear();
    for (const Step& step : scenario.steps) {
      Recorder*& subscriber = recorders[step.id];
      if (step.op != 'p' && !subscriber) subscriber = recorder(step.id);
      if (step.op == 's') m_center->subscribeForMessage(subscriber, str(step.name));
      if (step.op == 'u') m_center->unsubscribeForMessage(subscriber, str(step.name));
      if (step.op == 'a') m_center->unsubscribeForAllMessage(subscriber);
      if (step.op == 'p') post(step.name);
    }
    EXPECT_EQ(m_journal, scenario.journal);
    EXPECT_EQ(recorders[1]->getRetainCount(), scenario.retainCountOfOne);
    // A destroyed center releases its subscribers.
    m_center->release();
    m_center = new NotificationCenter();
    for (auto& entry : recorders)
      if (entry.second) EXPECT_EQ(entry.second->getRetainCount(), 1) << entry.first;
  }
}

TEST_F(NotificationCenterTest, EachPostLogsItsNameAndNullsAreIgnored)
{
  LogCapture capture;
  Recorder* subscriber = recorder(1);
  m_center->subscribeForMessage(subscriber, str("other"));
  post("ping");
  post("other");
  m_center->postMessage(nullptr, nullptr, nullptr);
  m_center->subscribeForMessage(nullptr, str("tick"));
  m_center->subscribeForMessage(subscriber, nullptr);
  EXPECT_EQ(m_journal, (std::vector<std::string>{"1:other"}));
  EXPECT_EQ(capture.text(), "Debug: message = ping\nDebug: message = other\n");
  EXPECT_EQ(subscriber->getRetainCount(), 2);
}

TEST_F(NotificationCenterTest, DeliveryCarriesTheContextAndInfoAndTheNameIsCopied)
{
  Recorder* session = recorder(1);
  BaseObject* driver = new (eRetainAutorelease) CountedObject(42);
  BaseDictionary* info = new (eRetainAutorelease) BaseDictionary();
  BaseString* name = str("NEW_CLIENT_CONNECTED_NOTIFICATION");
  m_center->subscribeForMessage(session, name);
  name->setCString("changed by the caller");
  post("NEW_CLIENT_CONNECTED_NOTIFICATION", nullptr, driver);
  EXPECT_EQ(session->lastContext.load(), driver);
  EXPECT_EQ(session->lastInfo.load(), nullptr);
  post("NEW_CLIENT_CONNECTED_NOTIFICATION", info, nullptr);
  post("changed by the caller");
  EXPECT_EQ(session->lastInfo.load(), info);
  EXPECT_EQ(info->getRetainCount(), 1) << "the center keeps no reference to the dictionary";
  EXPECT_EQ(m_journal, (std::vector<std::string>{"1:NEW_CLIENT_CONNECTED_NOTIFICATION",
                                                 "1:NEW_CLIENT_CONNECTED_NOTIFICATION"}));
}

using NotificationCenterOwnership = NotificationCenterTest;

TEST_F(NotificationCenterOwnership, SubscriptionKeepsTheSubscriberAliveUntilUnsubscribed)
{
  Recorder* subscriber = new Recorder(1, &m_journal);
  m_center->subscribeForMessage(subscriber, str("tick"));
  m_center->subscribeForMessage(subscriber, str("tock"));
  EXPECT_EQ(subscriber->getRetainCount(), 3);
  subscriber->release();
  m_center->unsubscribeForMessage(subscriber, str("tick"));
  EXPECT_EQ(CountedObject::destroyed, 0);
  m_center->unsubscribeForMessage(subscriber, str("tock"));
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(NotificationCenterOwnership, UnsubscribingRemovesThatObjectNotAnEqualOne)
{
  Recorder* first = recorder(7);
  Recorder* twin = recorder(7);
  ASSERT_TRUE(first->isEqual(twin));
  m_center->subscribeForMessage(first, str("tick"));
  m_center->subscribeForMessage(twin, str("tick"));
  m_center->unsubscribeForMessage(first, str("tick"));
  EXPECT_EQ(first->getRetainCount(), 1);
  EXPECT_EQ(twin->getRetainCount(), 2);
  post("tick");
  EXPECT_EQ(first->received, 0);
  EXPECT_EQ(twin->received, 1);
}

// The center may hold the last reference: the destructor then runs when it lets go, and a
// destructor that unsubscribes calls back into the center.
TEST_F(NotificationCenterOwnership, SubscriberWhoseDestructorUnsubscribesDiesWithoutDeadlock)
{
  CountedObject* subscriber = nullptr;
  subscriber = new CountedObject(1, [this, &subscriber] { m_center->unsubscribeForAllMessage(subscriber); });
  m_center->subscribeForMessage(subscriber, str("tick"));
  subscriber->release();
  m_center->unsubscribeForMessage(subscriber, str("tick"));
  EXPECT_EQ(CountedObject::destroyed, 1);
}

// --- subscriptions changed from inside a delivery: the list taken at the start is delivered ---

using NotificationCenterReentrancy = NotificationCenterTest;

TEST_F(NotificationCenterReentrancy, SubscriberUnsubscribingItselfLivesThroughTheDelivery)
{
  Recorder* leaving = new Recorder(1, &m_journal);
  leaving->onMessage = [this, leaving](BaseString* name) {
    m_center->unsubscribeForMessage(leaving, name);
    EXPECT_EQ(CountedObject::destroyed, 0);
  };
  m_center->subscribeForMessage(leaving, str("tick"));
  leaving->release();  // the center now holds the only reference
  m_center->subscribeForMessage(recorder(2), str("tick"));
  post("tick");
  EXPECT_EQ(CountedObject::destroyed, 1);
  post("tick");
  EXPECT_EQ(m_journal, (std::vector<std::string>{"1:tick", "2:tick", "2:tick"}));
}

TEST_F(NotificationCenterReentrancy, LaterSubscriberRemovedDuringDeliveryStillGetsThisMessageOnly)
{
  Recorder* first = recorder(1);
  Recorder* removed = new Recorder(2, &m_journal);
  m_center->subscribeForMessage(first, str("tick"));
  m_center->subscribeForMessage(removed, str("tick"));
  removed->release();
  first->onMessage = [this, removed](BaseString* name) { m_center->unsubscribeForAllMessage(removed); };
  post("tick");
  first->onMessage = nullptr;
  post("tick");
  EXPECT_EQ(m_journal, (std::vector<std::string>{"1:tick", "2:tick", "1:tick"}));
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(NotificationCenterReentrancy, SubscriberAddedDuringDeliveryHearsFromTheNextMessage)
{
  Recorder* first = recorder(1);
  Recorder* added = recorder(2);
  first->onMessage = [this, added](BaseString* name) { m_center->subscribeForMessage(added, str("")); };
  m_center->subscribeForMessage(first, str("tick"));
  post("tick");
  first->onMessage = nullptr;
  post("tick");
  EXPECT_EQ(m_journal, (std::vector<std::string>{"1:tick", "1:tick", "2:tick"}));
}

TEST_F(NotificationCenterReentrancy, PostFromInsideADeliveryIsDeliveredAtOnce)
{
  Recorder* relay = recorder(1);
  relay->onMessage = [this](BaseString* name) {
    if (strcmp(name->cString(), "tick") == 0) post("tock");
  };
  m_center->subscribeForMessage(relay, str("tick"));
  m_center->subscribeForMessage(relay, str("tock"));
  m_center->subscribeForMessage(recorder(2), str("tick"));
  post("tick");
  EXPECT_EQ(m_journal, (std::vector<std::string>{"1:tick", "1:tock", "2:tick"}));
}

// --- several threads ---

using NotificationCenterThreads = NotificationCenterTest;

TEST_F(NotificationCenterThreads, SharedCenterIsCreatedOnceWhateverThreadAsksFirst)
{
  const int threads = 8;
  std::atomic<int> ready{0};
  std::vector<NotificationCenter*> seen(threads, nullptr);
  std::vector<std::thread> askers;
  for (int t = 0; t < threads; ++t) {
    askers.emplace_back([&, t] {
      ready++;
      while (ready.load() < threads) {
      }
      seen[t] = NotificationCenter::sharedNotificationCenter();
    });
  }
  for (std::thread& asker : askers) asker.join();
  ASSERT_NE(seen[0], nullptr);
  for (NotificationCenter* center : seen) EXPECT_EQ(center, seen[0]);
  EXPECT_EQ(NotificationCenter::sharedNotificationCenter(), seen[0]);
  EXPECT_STREQ(seen[0]->getClass(), "NotificationCenter");
}

TEST_F(NotificationCenterThreads, PostsWhileOtherThreadsSubscribeAndUnsubscribe)
{
  const int posters = 3, posts = 400, churners = 2, rounds = 400;
  Recorder* steady = new (eRetainAutorelease) Recorder(1, nullptr);
  Recorder* catchAll = new (eRetainAutorelease) Recorder(2, nullptr);
  m_center->subscribeForMessage(steady, str("tick"));
  m_center->subscribeForMessage(catchAll, str(""));
  std::atomic<int> ready{0};
  auto startTogether = [&] {
    ready++;
    while (ready.load() < posters + churners) {
    }
  };
  std::vector<std::thread> threads;
  for (int p = 0; p < posters; ++p) {
    threads.emplace_back([&] {
      BaseAutorelease pool;
      BaseString* name = new (eRetainAutorelease) BaseString("tick");
      startTogether();
      for (int i = 0; i < posts; ++i) m_center->postMessage(name, nullptr, this);
    });
  }
  for (int c = 0; c < churners; ++c) {
    threads.emplace_back([&, c] {
      BaseAutorelease pool;
      BaseString* tick = new (eRetainAutorelease) BaseString("tick");
      BaseString* own = new (eRetainAutorelease) BaseString(("churn" + std::to_string(c)).c_str());
      startTogether();
      for (int i = 0; i < rounds; ++i) {
        // Each round's subscriber dies on whichever thread lets go of it last.
        Recorder* passing = new Recorder(100 + c, nullptr);
        m_center->subscribeForMessage(passing, tick);
        m_center->subscribeForMessage(passing, own);
        passing->release();
        if (i % 2)
          m_center->unsubscribeForAllMessage(passing);
        else {
          m_center->unsubscribeForMessage(passing, tick);
          m_center->unsubscribeForMessage(passing, own);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(steady->received, posters * posts);
  EXPECT_EQ(catchAll->received, posters * posts);
  EXPECT_EQ(CountedObject::destroyed, churners * rounds);
  EXPECT_EQ(steady->getRetainCount(), 2);
}

}  // namespace
