#include "analyzer/uses_clause.h"

namespace quorrin {

bool CommentStripper::StripComments(std::string& line, size_t& commentStart) {
  if (state == CommentState::None) {
    const size_t brace = line.find('{');
    const size_t paren = line.find("(*");
    const size_t slash = line.find("//");
    size_t first = brace;
    state = CommentState::Brace;
    if (paren < first) first = paren, state = CommentState::ParenStar;
    if (slash < first) first = slash, state = CommentState::Line;
    if (first == std::string::npos) {
      state = CommentState::None;
      return false;
    }
    commentStart = first + 1;
  }
  const size_t from = commentStart - 1;
  if (state == CommentState::Line) {
    line.erase(from);
    state = CommentState::None;
    commentStart = 1;
    return false;
  }
  const char* closer = state == CommentState::Brace ? "}" : "*)";
  const size_t close = line.find(closer, from);
  if (close == std::string::npos) {
    if (from < line.size()) line.erase(from);
    return false;
  }
  line.erase(from, close + std::char_traits<char>::length(closer) - from);
  state = CommentState::None;
  commentStart = 1;
  return !line.empty();
}

void CommentStripper::StripLine(std::string& line) {
  size_t commentStart = 1;
  while (StripComments(line, commentStart)) {
  }
}

void RemoveInPaths(std::string& line) {
  for (;;) {
    const size_t in = line.find(" in ");
    if (in == std::string::npos) return;
    const size_t quote = line.find('\'', in);
    if (quote == std::string::npos) return;
    line.erase(in, quote - in + 1);
    const size_t close = line.find('\'', in);
    if (close != std::string::npos) line.erase(in, close - in + 1);
  }
}

bool IsProjectFile(std::string_view fileName) {
  const std::string ext = ExtractFileExt(fileName);
  return SameTextAscii(ext, ".dpr") || SameTextAscii(ext, ".lpr");
}

static bool IsKeywordSeparator(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

TStringList ExtractUsesNames(std::string gathered) {
  const std::string lowered = LowerAscii(gathered);
  size_t p = 0;
  for (;;) {
    p = lowered.find("uses", p);
    if (p == std::string::npos) return {};
    const bool before = p == 0 || IsKeywordSeparator(lowered[p - 1]);
    const bool after = p + 4 < lowered.size() && IsKeywordSeparator(lowered[p + 4]);
    if (before && after) break;
    ++p;
  }
  gathered.erase(0, p + 4);
  const size_t semi = gathered.find(';');
  if (semi != std::string::npos) gathered.erase(semi);
  std::string joined;
  joined.reserve(gathered.size());
  for (size_t i = 0; i < gathered.size(); ++i) {
    if (gathered[i] == '\r' && i + 1 < gathered.size() && gathered[i + 1] == '\n') {
      ++i;
      continue;
    }
    joined += gathered[i];
  }
  return SplitCommaText(joined);
}

bool GatherInterfaceText(TStream& stream, CommentStripper& comments, std::string& gathered, std::string& rest) {
  gathered.clear();
  rest.clear();
  bool inInterface = false;
  while (!StreamEof(stream)) {
    std::string line = StreamReadLn(stream);
    comments.StripLine(line);
    const size_t p = LowerAscii(line).find("interface");
    if (p != std::string::npos) {
      // The keyword, everything before it and the one character after it.
      line.erase(0, std::min(line.size(), p + 10));
      gathered = line;
      inInterface = true;
      break;
    }
  }
  while (inInterface && !StreamEof(stream)) {
    std::string line = StreamReadLn(stream);
    comments.StripLine(line);
    gathered += "\r\n";
    gathered += line;
    const size_t impl = LowerAscii(line).find("implementation");
    if (impl != std::string::npos) {
      gathered.erase(gathered.size() - line.size() + impl);
      rest = line.substr(impl);
      return true;
    }
  }
  return false;
}

TStringList GetUsesListFromStream(TStream& stream, bool projectFile) {
  std::string gathered;
  CommentStripper comments;
  if (projectFile) {
    while (!StreamEof(stream)) {
      std::string line = StreamReadLn(stream);
      comments.StripLine(line);
      RemoveInPaths(line);
      gathered += "\r\n";
      gathered += line;
      const size_t begin = LowerAscii(line).find("begin");
      if (begin != std::string::npos) {
        gathered.erase(gathered.size() - line.size() + begin);
        break;
      }
    }
  } else {
    std::string rest;
    GatherInterfaceText(stream, comments, gathered, rest);
  }
  return ExtractUsesNames(std::move(gathered));
}

}  // namespace quorrin
