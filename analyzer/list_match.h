// How the order list matches texts: as the system's list control finds an
// exact string (LB_FINDSTRINGEXACT), which ignores case beyond ASCII and
// compares by the locale's sorting rules.
#pragma once

#include <string>
#include <string_view>

namespace quorrin {

// The key under which the system's list control takes texts for equal: two
// texts match when their keys are equal. On Windows the system's sort key
// with case ignored (user locale, text in the ANSI code page); elsewhere
// FoldAnsi1252.
std::string ListMatchKey(std::string_view text);

// The list control's match for code page 1252 under the default sorting
// (en-US), byte by byte: capital letters fold to small ones (A-Z, Š Ž Ÿ,
// À-Ý but not ×); æ, œ, ß and þ, capital or small, stand for ae, oe, ss and
// th; ˆ (0x88) stands for ^; the soft hyphen (0xAD) is ignored.
std::string FoldAnsi1252(std::string_view text);

}  // namespace quorrin
