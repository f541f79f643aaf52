// Extraction of the unit names listed in a source file's uses clause: the
// program's clause for a project file (.dpr, .lpr), the interface clause for
// a unit. A line-oriented scanner with the comment and keyword rules of the
// original tool, byte for byte.
#pragma once

#include <string>
#include <string_view>

#include "analyzer/stream.h"
#include "analyzer/text_utils.h"

namespace quorrin {

enum class CommentState { None, Brace, ParenStar, Line };

// Comment stripping over one line; the state carries over to the next line.
struct CommentStripper {
  CommentState state = CommentState::None;
  // Removes every comment from line, continuing an open one.
  void StripLine(std::string& line);
  // One step: removes at most one comment; returns true when the line must
  // be looked at again. commentStart counts from 1.
  bool StripComments(std::string& line, size_t& commentStart);
};

// Removes " in '<path>'" parts from a project-file line.
void RemoveInPaths(std::string& line);

// True for the project-file extensions .dpr and .lpr (ASCII case ignored).
bool IsProjectFile(std::string_view fileName);

// The text between the keyword "uses" and the next ';' split into names;
// empty when no keyword stands in the gathered text.
TStringList ExtractUsesNames(std::string gathered);

// Gathers a unit's interface section: from the first "interface" (the
// keyword, what precedes it and one more character dropped) through the line
// in which "implementation" first occurs, cut there; lines joined by CR LF,
// comments removed. Returns true when "implementation" was met, with rest
// holding that line from the occurrence on.
bool GatherInterfaceText(TStream& stream, CommentStripper& comments, std::string& gathered, std::string& rest);

// The scanner over an open stream.
TStringList GetUsesListFromStream(TStream& stream, bool projectFile);

}  // namespace quorrin
