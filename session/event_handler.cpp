#include "session/event_handler.h"

#include <algorithm>

#include "metadata/sources/common/standard_exception.h"

EventHandler::EventHandler(const std::string& name) : name(name) {}

EventHandler::~EventHandler() = default;

void EventHandler::notifyListeners(const std::string& event, int value) {
  const auto range = listeners.equal_range(event);
  for (auto entry = range.first; entry != range.second; ++entry)
    entry->second.listener(event, value, entry->second.userData);
}

void EventHandler::finishEvent(const std::string& event) { updateEvent(event, 100); }

void EventHandler::startEvent(const std::string& event) {
  bool running;
  {
    platform::CriticalSection::Guard guard(lock);
    running = std::find(startedEvents.begin(), startedEvents.end(), event) != startedEvents.end();
    if (!running) startedEvents.push_back(event);
  }
  if (running) throw StandardException("EventHandler::startEvent() Event has been started before, stop it first");
}

void EventHandler::stopEvent(const std::string& event) {
  bool running;
  {
    platform::CriticalSection::Guard guard(lock);
    const auto entry = std::find(startedEvents.begin(), startedEvents.end(), event);
    running = entry != startedEvents.end();
    if (running) startedEvents.erase(entry);
  }
  if (!running)
    throw StandardException("EventHandler::stopEvent() Event has not been started before, start it first: " + event);
  // Outside the lock: an override may take its time or start other events.
  updateEvent(event, 100);
}

void EventHandler::updateEvent(const std::string&, int) {}

void EventHandler::addListener(const std::string& event, Listener listener, void* userData) {
  if (listener == nullptr) return;
  listeners.emplace(event, Registration{listener, userData});
}

SLManagerDefaultEventHandler::SLManagerDefaultEventHandler() : EventHandler(kName) {}

void SLManagerDefaultEventHandler::notify(const std::string& event, int value) { notifyListeners(event, value); }
