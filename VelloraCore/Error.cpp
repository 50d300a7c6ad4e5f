#include "VelloraCore/Error.h"

namespace vellora {

Error::~Error() = default;

}  // namespace vellora
