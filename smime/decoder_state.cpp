// The decoder's per-context state (its functions follow with the decoder).
#include "smime/context.h"

namespace tarmin::smime {

struct DecoderState {};

void release_decoder(DecoderState *state) { delete state; }

} // namespace tarmin::smime
