#include "VelloraCore/AppServer/CodexAppServerConfiguration.h"

namespace vellora {

CodexAppServerConfiguration::CodexAppServerConfiguration(const Environment&)
    : model(kDefaultModel) {}

}  // namespace vellora
