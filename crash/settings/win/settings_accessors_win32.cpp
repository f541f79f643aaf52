// The typed getters and setters of IKXSettings: each reads or writes the
// setting of its own name through the generic getter or setter of its kind.
#include "crash/settings/win/settings_object.h"

namespace kestrix {

#define KX_READ_Bool GetBoolSetting
#define KX_READ_Int GetIntSetting
#define KX_READ_Text GetTextSetting
#define KX_WRITE_Bool SetBoolSetting
#define KX_WRITE_Int SetIntSetting
#define KX_WRITE_Text SetTextSetting

#define KX_GET(T, N) \
  KX##T TIKXSettings::N() { return KX_READ_##T(#N); }
#define KX_SET(T, N) \
  bool TIKXSettings::Set##N(const KX##T& value) { return KX_WRITE_##T(#N, value); }
#define KX_PAIR(T, N) KX_GET(T, N) KX_SET(T, N)
#define KX_OP(R, N, P)
#include "kestrix/settings_slots.inc"

}  // namespace kestrix
