#include "metadata/sources/featex/modules/feature_input_module.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "metadata/sources/featex/fex_module_registry.h"
#include "signature/audio_sign_multi.h"
#include "signature/sign_data_multi.h"

namespace {

const FeatureInputModuleInfo moduleInfo;
const std::string kSignalSpace = "None";

// The frame period truncated toward zero as the 32-bit target converts: a
// value beyond the int range, or NaN, gives INT32_MIN.
int32_t truncatedPeriod(float msPerRow) {
  if (!(msPerRow > -2147483649.0f && msPerRow < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(msPerRow);
}

}  // namespace

KIVET_FEX_BUILTIN_MODULE(FeatureInputModule, "fex_feature_input_module");

FeatureInputModuleInfo::FeatureInputModuleInfo() : CFexProjectModuleInfo("read feature data", "Aug 14 2007") {}

FeatureInputModule::FeatureInputModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  const int32_t bands = local->getLong("numBands", 0);
  if (bands % 2 != 0) throw simpleException("numBands must be even");
  // A negative count is taken as unsigned: never smaller than a row, so no
  // folding.
  numBands = static_cast<uint32_t>(bands);
  const std::string input = global->getString("input");
  if (input.empty()) throw simpleException("FeatureInputModule: 'input' undefined");
  const std::string featureName = local->getString("FeatureName");
  if (featureName.empty()) throw simpleException("FeatureInputModule: 'FeatureName' undefined");

  float msPerRow;
  {
    std::ifstream stream(input, std::ios::in | std::ios::binary);
    CAudioSignMulti signature(stream, nullptr);
    const CSignDataMulti* data = signature.getSignData();
    CFeatureObject<float>* object = data ? data->getFeature(featureName.c_str()) : nullptr;
    if (!object) throw simpleException("Error, FeatureObject does not contain the required feature!");
    feature = object->getMatrix();
    msPerRow = object->getMsPerRow();
  }
  global->setLong("frameDuration", truncatedPeriod(msPerRow));
  global->setLong("frameOverlap", 0);

  row.resize(feature.cols);
  // A view's assignment copies elements: the view is pointed at the row itself.
  out.data = row.data;
  out.size = 0;
}

CFexModule* FeatureInputModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new FeatureInputModule(local, global);
}

const CFexModuleInfo* FeatureInputModule::getModuleInfo() { return &moduleInfo; }

const std::string& FeatureInputModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& FeatureInputModule::getOutputSignalSpace() { return kSignalSpace; }

unsigned FeatureInputModule::processRR(void** output, const void*) {
  *output = &out;
  if (nextRow >= feature.rows) {
    out.size = 0;
    signalEnd();
    return 0;
  }
  const unsigned n = feature.cols;
  std::copy_n(feature.getRow(nextRow).data, n, row.data);
  out.size = n;
  ++nextRow;
  if (numBands != 0 && numBands < n) fold();
  return out.size;
}

void FeatureInputModule::fold() {
  float* x = out.data;
  const unsigned n = out.size;
  const unsigned head = (n - numBands) / 2;
  float first = x[0];
  for (unsigned i = 1; i <= head; ++i) first += x[i];
  float last = 0.0f;
  for (unsigned i = numBands + 1; i < n; ++i) last += x[i];
  x[0] = first;
  for (unsigned j = 1; j + 1 < numBands; ++j) x[j] = x[j + 1];
  x[numBands - 1] = last;
  out.size = numBands;
}
