#include "session/event_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "metadata/sources/common/standard_exception.h"

namespace {

const std::string kStartTwice = "EventHandler::startEvent() Event has been started before, stop it first";
const std::string kStopUnstarted = "EventHandler::stopEvent() Event has not been started before, start it first: ";

class RecordingHandler : public SLManagerDefaultEventHandler {
 public:
  void updateEvent(const std::string& event, int value) override {
    updates.push_back(event + "=" + std::to_string(value));
  }
  std::vector<std::string> updates;
};

struct Step {
  char operation;  // s start, t stop, f finish
  const char* event;
  std::string failure;  // empty: the step succeeds
};

struct Script {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> updates;
};

std::string run(EventHandler& handler, const Step& step) {
  try {
    if (step.operation == 's') handler.startEvent(step.event);
    if (step.operation == 't') handler.stopEvent(step.event);
    if (step.operation == 'f') handler.finishEvent(step.event);
  } catch (const StandardException& e) {
    return e.what();
  }
  return "";
}

TEST(EventHandler, StartsAndStops) {
  const char* adapt = "SLManager::adaptSignature";
  const Script scripts[] = {
      {"started twice: the first start stays",
       {{'s', adapt, ""}, {'s', adapt, kStartTwice}, {'t', adapt, ""}, {'t', adapt, kStopUnstarted + adapt}},
       {std::string(adapt) + "=100"}},
      {"stop without start reports nothing", {{'t', "never", kStopUnstarted + "never"}}, {}},
      {"start, stop, start", {{'s', "a", ""}, {'t', "a", ""}, {'s', "a", ""}, {'s', "a", kStartTwice}}, {"a=100"}},
      {"events stop in any order",
       {{'s', "a", ""}, {'s', "b", ""}, {'s', "c", ""}, {'t', "b", ""}, {'t', "a", ""}, {'t', "c", ""}},
       {"b=100", "a=100", "c=100"}},
      {"finish neither starts nor stops",
       {{'f', "a", ""}, {'t', "a", kStopUnstarted + "a"}, {'s', "a", ""}, {'f', "a", ""}, {'t', "a", ""}},
       {"a=100", "a=100", "a=100"}},
      {"names compare exactly", {{'s', "a", ""}, {'t', "A", kStopUnstarted + "A"}, {'t', "a ", kStopUnstarted + "a "}}, {}},
  };
  for (const Script& script : scripts) {
    RecordingHandler handler;
    for (std::size_t i = 0; i < script.steps.size(); ++i)
      EXPECT_EQ(run(handler, script.steps[i]), script.steps[i].failure) << script.name << ", step " << i;
    EXPECT_EQ(handler.updates, script.updates) << script.name;
  }
}

struct Call {
  std::string event;
  int value;
  int listener;
};

std::vector<Call> calls;
void first(const std::string& event, int value, void* data) { calls.push_back({event, value, *static_cast<int*>(data)}); }
void second(const std::string& event, int value, void*) { calls.push_back({event, value, -1}); }

TEST(EventHandler, NamesAndListeners) {
  EXPECT_EQ(EventHandler("custom").getName(), "custom");
  SLManagerDefaultEventHandler handler;
  EXPECT_EQ(handler.getName(), "SLManagerDefaultEventHandler");
  // The base handler reports progress to nobody and still keeps the events.
  handler.startEvent("e");
  handler.stopEvent("e");

  int one = 1;
  int two = 2;
  handler.addListener("e", first, &one);
  handler.addListener("f", first, &two);
  handler.addListener("e", second, nullptr);
  handler.addListener("e", nullptr, &two);
  calls.clear();
  handler.notifyListeners("e", 40);
  handler.notify("f", 70);
  handler.notify("none", 1);
  // Stopping an event tells the listeners nothing: only updateEvent sees it.
  handler.startEvent("e");
  handler.stopEvent("e");
  const std::vector<std::pair<std::string, int>> expected = {{"e", 40}, {"e", 40}, {"f", 70}};
  ASSERT_EQ(calls.size(), expected.size());
  const int listenerOf[] = {1, -1, 2};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].event, expected[i].first) << i;
    EXPECT_EQ(calls[i].value, expected[i].second) << i;
    EXPECT_EQ(calls[i].listener, listenerOf[i]) << i;
  }
}

// Threads starting and stopping events of their own never see each other's.
TEST(EventHandler, StartedEventsAreGuarded) {
  SLManagerDefaultEventHandler handler;
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&handler, &failures, t] {
      const std::string event = "event " + std::to_string(t);
      for (int i = 0; i < 2000; ++i) {
        try {
          handler.startEvent(event);
          handler.stopEvent(event);
        } catch (const StandardException&) {
          ++failures[t];
        }
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  for (int t = 0; t < 4; ++t) EXPECT_EQ(run(handler, {'t', ("event " + std::to_string(t)).c_str(), ""}),
                                       kStopUnstarted + "event " + std::to_string(t));
}

}  // namespace
