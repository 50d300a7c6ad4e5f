#include <uuid/uuid.h>

#include "VelloraCore/Platform/RandomUUID.h"

namespace vellora {

std::string newRandomUUIDText() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return text;
}

}  // namespace vellora
