#include "similarity/classify_result.h"

ClassifyResult::~ClassifyResult() = default;

float ClassifyResult::get(const std::string& name) const {
  for (const auto& entry : scores)
    if (entry.second == name) return entry.first;
  return 0.0f;
}
