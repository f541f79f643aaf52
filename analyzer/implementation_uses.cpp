#include "analyzer/implementation_uses.h"

#include "analyzer/uses_clause.h"

namespace quorrin {
namespace {

constexpr std::string_view kImplementation = "implementation";

bool IsIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Position just after the first whole-word "implementation" in text, or npos.
size_t FindImplementationKeyword(const std::string& text) {
  const std::string lowered = LowerAscii(text);
  for (size_t p = lowered.find(kImplementation); p != std::string::npos;
       p = lowered.find(kImplementation, p + 1)) {
    const size_t end = p + kImplementation.size();
    const bool before = p == 0 || !IsIdentifierChar(lowered[p - 1]);
    const bool after = end == lowered.size() || !IsIdentifierChar(lowered[end]);
    if (before && after) return end;
  }
  return std::string::npos;
}

TStringList ReadImplementationClause(TStream& stream, CommentStripper& comments, std::string text) {
  size_t start;
  while ((start = FindImplementationKeyword(text)) == std::string::npos) {
    if (StreamEof(stream)) return {};
    text = StreamReadLn(stream);
    comments.StripLine(text);
  }
  std::string clause = text.substr(start);
  size_t semi;
  while ((semi = clause.find(';')) == std::string::npos && !StreamEof(stream)) {
    std::string line = StreamReadLn(stream);
    comments.StripLine(line);
    clause += "\r\n";
    clause += line;
  }
  if (semi != std::string::npos) clause.erase(semi + 1);
  return ExtractUsesNames(std::move(clause));
}

}  // namespace

TUnitClauses GetUnitClausesFromStream(TStream& stream, bool projectFile) {
  TUnitClauses clauses;
  if (projectFile) {
    clauses.Interface = GetUsesListFromStream(stream, true);
    return clauses;
  }
  CommentStripper comments;
  std::string gathered, rest;
  const bool stopped = GatherInterfaceText(stream, comments, gathered, rest);
  // Without a stop the gathered text runs to the end of the file and may
  // still hold the keyword (a unit written on few lines).
  std::string searchFrom = stopped ? rest : gathered;
  clauses.Interface = ExtractUsesNames(std::move(gathered));
  clauses.Implementation = ReadImplementationClause(stream, comments, std::move(searchFrom));
  return clauses;
}

}  // namespace quorrin
