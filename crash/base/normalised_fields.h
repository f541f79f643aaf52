// A fields list that stores every content in a normal form (the report's
// header and sections: trimmed values, no empty items).
#pragma once

#include <string>
#include <string_view>

#include "kestrix/fields.h"

namespace kestrix {

// Every content added, inserted or set passes through `normalise`; a
// normalised content that is empty is not stored: setting it removes the
// item, adding or inserting it adds nothing (Insert then returns false).
using TFieldNormaliser = std::string (*)(std::string_view content);
KXPtr<IKXFields> NewNormalisedFields(TFieldNormaliser normalise);

}  // namespace kestrix
