// object_name.h: reading an X-file object's name through the two-call protocol (length, then text).
#pragma once

#include <optional>
#include <string>

#include "platform/xof/xof.h"

namespace qm::xof {

// The object's name: none when the parser reports a length of 0, else the text up to its first zero
// (possibly empty). The parser's failure code otherwise, with *name left empty.
HRESULT ReadObjectName(IDirectXFileObject* object, std::optional<std::string>* name);

}  // namespace qm::xof
