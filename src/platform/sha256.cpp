#include "platform/sha256.h"

namespace sorvane {

Sha256Digest sha256(ByteSpan bytes) {
  Sha256Hasher hasher;
  hasher.update(bytes);
  return hasher.finish();
}

}  // namespace sorvane
