#pragma once
// Maps the parameter values a query may carry to a relevance per classifier,
// as the "parameterization" element of the configuration describes:
//
//   <parameterization min="0" max="1">
//     <parameter name="tempo" value="0.5"> <cfy name="rhythm"/> ... </parameter>
//   </parameterization>
//
// The similarity manager leaves out every classifier whose relevance is
// exactly 0 and takes in every other one.

#include <map>
#include <set>
#include <string>
#include <xercesc/dom/DOMElement.hpp>

class CParameterization {
 public:
  CParameterization();

  // Reads element; classifierIds are the names of all configured classifiers.
  // "min" and "max" are read when the element has attributes, "name" and
  // "value" of every "parameter" child that has attributes, "name" of every
  // "cfy" child of those that has attributes. A required attribute that is
  // missing or holds no number, or a classifier not in classifierIds, throws
  // StandardException and leaves the object as it was.
  void init(const xercesc::DOMElement& element, const std::set<std::string>& classifierIds);

  // Classifier id -> relevance for the query's parameter values. Every
  // classifier a query parameter names takes the parameter's value (the mean
  // with the value already held when several name it); each is reported as
  // "<value> <id>" on standard output, and a parameter without
  // parameterization as a warning line. With normalise, the classifiers of
  // no query parameter take their default value and all are scaled from
  // [min, max] to [0, 1].
  std::map<std::string, float> getRelevances(const std::map<std::string, float>& query, bool normalise) const;

  // Every classifier id whose stored value, under any parameter, equals min.
  std::set<std::string> selectClassifiers() const;

  const std::map<std::string, std::map<std::string, float>>& getParameters() const { return parameters; }
  float getMin() const { return min; }
  float getMax() const { return max; }
  const std::map<std::string, float>& getDefaults() const { return defaults; }

 private:
  // Parameter name -> (classifier id -> value).
  std::map<std::string, std::map<std::string, float>> parameters;
  float min = 0.0f;
  float max = 0.0f;
  // Classifier id -> the value of the first parameter that named it.
  std::map<std::string, float> defaults;
};
