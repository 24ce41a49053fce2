#include "similarity/query_parameters.h"

QueryStrategy::~QueryStrategy() = default;

QueryParameters::QueryParameters() = default;

QueryParameters::QueryParameters(const std::map<std::string, float>& parameters) : parameters(parameters) {}

QueryParameters::~QueryParameters() = default;
