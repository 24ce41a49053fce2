#include "similarity/parameterization.h"

#include <algorithm>
#include <iostream>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/dom_support.h"

using xercesc::DOMElement;

namespace {

const char kInit[] = "CParameterization::init()";

}  // namespace

CParameterization::CParameterization() = default;

void CParameterization::init(const DOMElement& element, const std::set<std::string>& classifierIds) {
  static const XmlString kParameter = toXmlString("parameter");
  static const XmlString kClassifier = toXmlString("cfy");
  // Read into copies and committed at the end: a malformed element changes nothing.
  float readMin = min;
  float readMax = max;
  if (element.hasAttributes()) {
    readMin = requireNumber<float>(element, "min", kInit);
    readMax = requireNumber<float>(element, "max", kInit);
  }
  auto readParameters = parameters;
  auto readDefaults = defaults;
  forEachChildElement(element, kParameter, [&](const DOMElement& parameter) {
    if (!parameter.hasAttributes()) return;
    const std::string name = requireAttribute(parameter, "name", kInit);
    const float value = requireNumber<float>(parameter, "value", kInit);
    std::map<std::string, float> members;
    forEachChildElement(parameter, kClassifier, [&](const DOMElement& classifier) {
      if (!classifier.hasAttributes()) return;
      const std::string id = requireAttribute(classifier, "name", kInit);
      if (classifierIds.count(id) == 0)
        throw StandardException(std::string(kInit) + " classifier ID not available: " + id);
      members[id] = value;
      readDefaults.emplace(id, value);
    });
    readParameters[name] = std::move(members);
  });
  min = readMin;
  max = readMax;
  parameters.swap(readParameters);
  defaults.swap(readDefaults);
}

std::map<std::string, float> CParameterization::getRelevances(const std::map<std::string, float>& query,
                                                              bool normalise) const {
  std::map<std::string, float> relevances;
  // Only equal when every value equals min and max: see below.
  float lo = min;
  float hi = max;
  const auto take = [&](float value) {
    lo = std::max(lo, value);
    hi = std::min(hi, value);
  };
  for (const auto& [name, value] : query) {
    const auto parameter = parameters.find(name);
    if (parameter == parameters.end()) {
      std::cout << "CParameterization::getRelevances() Warning: Couldn't find parameterization of " << name
                << std::endl;
      continue;
    }
    // Only which classifiers a parameter names counts here, not their stored values.
    for (const auto& member : parameter->second) {
      const auto [held, first] = relevances.emplace(member.first, value);
      if (!first) held->second = (value + held->second) * 0.5f;
      std::cout << held->second << " " << member.first << std::endl;
      if (normalise) take(held->second);
    }
  }
  if (!normalise) return relevances;

  for (const auto& [id, value] : defaults) {
    if (relevances.emplace(id, value).second) take(value);
  }
  for (auto& entry : relevances) {
    float& relevance = entry.second;
    if (lo == hi && min == hi) {
      relevance = 1.0f;
    } else if (max != min) {
      relevance = (relevance - min) / (max - min);
    } else {
      // A range without width cannot scale: a division would give infinities
      // and, at min, NaN. The sign of relevance - min is kept instead, 0 at
      // min, so that a classifier at the bottom of the range is left out as
      // it is in a range with width.
      relevance = relevance == min ? 0.0f : relevance < min ? -1.0f : 1.0f;
    }
  }
  return relevances;
}

std::set<std::string> CParameterization::selectClassifiers() const {
  std::set<std::string> selected;
  for (const auto& parameter : parameters)
    for (const auto& [id, value] : parameter.second)
      if (value == min) selected.insert(id);
  return selected;
}
