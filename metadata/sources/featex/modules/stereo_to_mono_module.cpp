#include "metadata/sources/featex/modules/stereo_to_mono_module.h"

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const StereoToMonoModuleInfo moduleInfo;
const std::string kInputSpace = "TimeArbitrary";
const std::string kOutputSpace = "TimeMono";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(StereoToMonoModule, "fex_stereo_to_mono");

StereoToMonoModuleInfo::StereoToMonoModuleInfo() : CFexProjectModuleInfo("converts stereo to mono") {}

StereoToMonoModule::StereoToMonoModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  const int32_t channelSetting = global->getLong("channels", -1);
  if (channelSetting != 1 && channelSetting != 2)
    throw simpleException("StereoToMonoModule: 'channels' undefined or invalid");
  channels = static_cast<unsigned>(channelSetting);

  const std::string& chan = local->getString("chan");
  if (chan.empty() || chan == "mix")
    mode = Mode::mix;
  else if (chan == "diff")
    mode = Mode::diff;
  else if (chan == "left")
    mode = Mode::left;
  else if (chan == "right")
    mode = Mode::right;
  else
    throw simpleException("StereoToMonoModule: unsupported mode");

  dcRejection = local->getBool("dcr");
  // The blocker's state would have to follow the overlapping frames back,
  // which it cannot: it only runs on frames that join without overlap.
  if (dcRejection && global->getLong("overlapSize", -1) != 0)
    throw simpleException("TODO: dcr with overlapSize not yet implemented!");
}

CFexModule* StereoToMonoModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new StereoToMonoModule(local, global);
}

const CFexModuleInfo* StereoToMonoModule::getModuleInfo() { return &moduleInfo; }

unsigned StereoToMonoModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  if (channels == 1) {
    out = in;
  } else {
    const unsigned m = in.size / 2;  // an odd trailing value is ignored
    out.resize(m);
    const float* pair = in.data;
    switch (mode) {
      case Mode::mix:
        for (unsigned i = 0; i < m; ++i, pair += 2)
          out[i] = static_cast<float>((static_cast<double>(pair[0]) + pair[1]) * 0.5);
        break;
      case Mode::diff:
        for (unsigned i = 0; i < m; ++i, pair += 2)
          out[i] = static_cast<float>(static_cast<double>(pair[0]) - pair[1]);
        break;
      case Mode::left:
        for (unsigned i = 0; i < m; ++i, pair += 2) out[i] = pair[0];
        break;
      case Mode::right:
        for (unsigned i = 0; i < m; ++i, pair += 2) out[i] = pair[1];
        break;
    }
  }
  if (dcRejection) dcBlocker.process(out.data, out.data, out.size);
  *output = &out;
  return out.size;
}

const std::string& StereoToMonoModule::getInputSignalSpace() { return kInputSpace; }
const std::string& StereoToMonoModule::getOutputSignalSpace() { return kOutputSpace; }
unsigned StereoToMonoModule::getOutputSize(unsigned inputSize) { return inputSize / channels; }
std::string StereoToMonoModule::getUsage() { return "fex_stereo_to_mono: chan=[mix|diff|left|right], dcr=[false|true]"; }
