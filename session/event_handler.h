#pragma once
// Progress events of the similarity engine's long operations. An operation
// announces its start and its end under an event name and may report values
// in between (percentages: 100 means finished); listeners registered for an
// event name can be told. The handler refuses to start an event that is
// running or to stop one that is not.

#include <map>
#include <string>
#include <vector>

#include "platform/critical_section.h"

class EventHandler {
 public:
  // Called with the event name, the value and the user data it was
  // registered with.
  using Listener = void (*)(const std::string& event, int value, void* userData);

  explicit EventHandler(const std::string& name);
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  virtual ~EventHandler();

  // Calls every listener of event with (event, value, its user data), in the
  // order they were registered.
  virtual void notifyListeners(const std::string& event, int value);
  // updateEvent(event, 100); the event stays started.
  virtual void finishEvent(const std::string& event);
  // Records the start; throws StandardException when event is running.
  virtual void startEvent(const std::string& event);
  // Removes the start, then updateEvent(event, 100); throws
  // StandardException (and reports nothing) when event is not running.
  virtual void stopEvent(const std::string& event);
  // Nothing here; handlers that show progress override it.
  virtual void updateEvent(const std::string& event, int value);

  const std::string& getName() const { return name; }

  // Nothing in the library registers a listener; a host-side handler may. A
  // null listener is not registered.
  void addListener(const std::string& event, Listener listener, void* userData);

 private:
  struct Registration {
    Listener listener;
    void* userData;
  };

  std::string name;
  // Names of the events started and not yet stopped, in start order.
  std::vector<std::string> startedEvents;
  // Guards startedEvents only.
  platform::CriticalSection lock;
  // Equal names keep their order of registration.
  std::multimap<std::string, Registration> listeners;
};

// The handler a session gives its similarity manager. The manager deletes a
// handler only when it bears this handler's name.
class SLManagerDefaultEventHandler : public EventHandler {
 public:
  static constexpr const char* kName = "SLManagerDefaultEventHandler";

  SLManagerDefaultEventHandler();

  // The same as notifyListeners.
  virtual void notify(const std::string& event, int value);
};
