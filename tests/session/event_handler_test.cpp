#include "session/event_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"

namespace {

const std::string kStartTwice = "EventHandler::startEvent() Event has been started before, stop it first";
const std::string kNotStarted = "EventHandler::stopEvent() Event has not been started before, start it first: ";

// Records updates and listener calls as "event=value" texts.
std::vector<std::string> seen;

class RecordingHandler : public SLManagerDefaultEventHandler {
 public:
  void updateEvent(const std::string& event, int value) override {
    seen.push_back(event + "=" + std::to_string(value));
  }
};

void listener(const std::string& event, int value, void* data) {
  seen.push_back(*static_cast<std::string*>(data) + ":" + event + "=" + std::to_string(value));
}

TEST(EventHandler, StartsAndStops) {
  const std::string adapt = "SLManager::adaptSignature";
  // Steps: s start, t stop, f finish, each with the failure it raises.
  const struct {
    std::vector<std::pair<std::string, std::string>> steps;
    std::vector<std::string> updates;
  } scripts[] = {
      {{{"s" + adapt, ""}, {"s" + adapt, kStartTwice}, {"t" + adapt, ""}, {"t" + adapt, kNotStarted + adapt}},
       {adapt + "=100"}},
      {{{"tnever", kNotStarted + "never"}}, {}},
      {{{"sa", ""}, {"ta", ""}, {"sa", ""}, {"sa", kStartTwice}}, {"a=100"}},
      {{{"sa", ""}, {"sb", ""}, {"sc", ""}, {"tb", ""}, {"ta", ""}, {"tc", ""}}, {"b=100", "a=100", "c=100"}},
      {{{"fa", ""}, {"ta", kNotStarted + "a"}, {"sa", ""}, {"fa", ""}, {"ta", ""}}, {"a=100", "a=100", "a=100"}},
      {{{"sa", ""}, {"tA", kNotStarted + "A"}, {"ta ", kNotStarted + "a "}}, {}},
  };
  for (const auto& script : scripts) {
    RecordingHandler handler;
    seen.clear();
    for (const auto& [step, failure] : script.steps) {
      std::string raised;
      try {
        const std::string event = step.substr(1);
        if (step[0] == 's') handler.startEvent(event);
        if (step[0] == 't') handler.stopEvent(event);
        if (step[0] == 'f') handler.finishEvent(event);
      } catch (const StandardException& e) {
        raised = e.what();
      }
      EXPECT_EQ(raised, failure) << step;
    }
    EXPECT_EQ(seen, script.updates) << script.steps.front().first;
  }
}

TEST(EventHandler, NamesAndListeners) {
  EXPECT_EQ(EventHandler("custom").getName(), "custom");
  SLManagerDefaultEventHandler handler;
  EXPECT_EQ(handler.getName(), "SLManagerDefaultEventHandler");
  std::string one = "1", two = "2";
  handler.addListener("e", listener, &one);
  handler.addListener("f", listener, &two);
  handler.addListener("e", listener, &two);
  handler.addListener("e", nullptr, &two);
  seen.clear();
  handler.notifyListeners("e", 40);
  handler.notify("f", 70);
  handler.notify("none", 1);
  // The base handler's progress goes to nobody, listeners included.
  handler.startEvent("e");
  handler.stopEvent("e");
  EXPECT_EQ(seen, (std::vector<std::string>{"1:e=40", "2:e=40", "2:f=70"}));
}

}  // namespace
