#include "metadata/sources/featex/fex_module.h"

#include <utility>

CFexProjectModuleInfo::CFexProjectModuleInfo(std::string description, std::string date)
    : description(std::move(description)), date(std::move(date)) {}

std::string CFexProjectModuleInfo::getAuthor() const { return "kivet developers"; }
std::string CFexProjectModuleInfo::getEmail() const { return "kivet project issue tracker"; }
std::string CFexProjectModuleInfo::getOrganization() const { return "kivet project 2026"; }
std::string CFexProjectModuleInfo::getDate() const { return date; }
std::string CFexProjectModuleInfo::getVersion() const { return "1.0"; }
std::string CFexProjectModuleInfo::getDescription() const { return description; }

CFexModule::CFexModule(SettingsBase*, SettingsBase*, const CFexModuleInfo* info) : endFlag(false), info(info) {}

void CFexModule::signalEnd() { endFlag = true; }
bool CFexModule::isEndSignaled() { return endFlag; }
int CFexModule::getModuleKind() { return FMK_plain; }

void CFexModule::deleteInstance(CFexModule* module) { delete module; }

std::string CFexModule::description() const { return info ? info->getDescription() : std::string(); }

unsigned CFexModuleOld::process(void** output, const void* input) {
  const bool realIn = getInputType() == FTI_bvFlt;
  const bool realOut = getOutputType() == FTI_bvFlt;
  if (!realIn && !realOut) return processCC(output, input);
  if (!realIn) return processCR(output, input);
  if (!realOut) return processRC(output, input);
  return processRR(output, input);
}

int CFexModuleOld::getInputType() { return isInputComplex() ? FTI_bvCplx : FTI_bvFlt; }
int CFexModuleOld::getOutputType() { return isOutputComplex() ? FTI_bvCplx : FTI_bvFlt; }
int CFexModuleOld::getModuleKind() { return FMK_old; }

unsigned CFexModuleOld::processCC(void**, const void*) {
  throw simpleException("process : C->C not defined. " + description());
}
unsigned CFexModuleOld::processRC(void**, const void*) {
  throw simpleException("process : R->C not defined. " + description());
}
unsigned CFexModuleOld::processCR(void**, const void*) {
  throw simpleException("process : C->R not defined. " + description());
}
unsigned CFexModuleOld::processRR(void**, const void*) {
  throw simpleException("process : R->R not defined. " + description());
}

int CFexMetaSinkModule::getModuleKind() { return FMK_metaSink; }
