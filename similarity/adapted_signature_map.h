#pragma once
// Adapted signatures by song id, in ascending id order: the feature
// database's entries, a partition-tree node's entries and a query's candidate
// set are all of this type, so that one reference range runs over any of them.
// The signatures are owned by the feature database, never by such a map.

#include <cstdint>
#include <map>

class CAudioSignMulti;

using AdaptedSignatureMap = std::map<uint64_t, CAudioSignMulti*>;
