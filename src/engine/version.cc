#include "tessul_version.h"

namespace tessul {

const char* version() { return TESSUL_VERSION; }

}  // namespace tessul
