#include "image/hash_set_image.h"

#include "filter/filter.h"
#include "hashing/set_elements.h"

namespace tessul {

// The sets that engine images hold.
template class HashSet<Filter>;
template class HashSet<NoFingerprintDomain>;

}  // namespace tessul
