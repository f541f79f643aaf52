#include "cli/cli_output.h"

#include <utility>
#include <vector>

#include "cli/cycles_output.h"
#include "cli/json_writer.h"

namespace quorrin {
namespace {

constexpr const char* kEol = "\r\n";

// Output that goes to a file in pieces: a deep tree's indentation alone can
// run to hundreds of megabytes.
class TChunkedOut {
 public:
  explicit TChunkedOut(FILE* file) : file_(file) {}
  ~TChunkedOut() { Flush(); }
  std::string& Text() { return text_; }
  void MaybeFlush() {
    if (text_.size() >= (1u << 20)) Flush();
  }
  void Flush() {
    fwrite(text_.data(), 1, text_.size(), file_);
    text_.clear();
  }

 private:
  FILE* file_;
  std::string text_;
};

void WriteTreeText(TChunkedOut& out, const TUnitTree& tree, const std::vector<TUsesClause>* clauses) {
  if (tree.Count() == 0) return;
  std::vector<std::pair<int, int>> stack{{0, 0}};  // node, depth
  while (!stack.empty()) {
    const auto [node, depth] = stack.back();
    stack.pop_back();
    std::string& text = out.Text();
    text.append(static_cast<size_t>(depth) * 2, ' ');
    text += tree[node].Text;
    if (clauses && (*clauses)[static_cast<size_t>(node)] == TUsesClause::Implementation) text += " (implementation)";
    text += kEol;
    out.MaybeFlush();
    const auto& children = tree[node].Children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, depth + 1);
  }
}

void AppendTreeJson(std::string& out, const TUnitTree& tree, const std::vector<TUsesClause>* clauses) {
  if (tree.Count() == 0) {
    out += "null";
    return;
  }
  // Iterative: each entry is a node whose object is open, with the index of
  // its next child.
  std::vector<std::pair<int, size_t>> stack;
  auto open = [&](int node) {
    out += "{\"text\":";
    AppendJsonString(out, tree[node].Text);
    if (clauses) {
      out += ",\"clause\":";
      out += node == 0 ? "null" : std::string("\"") + ClauseName((*clauses)[static_cast<size_t>(node)]) + "\"";
    }
    out += ",\"children\":[";
    stack.emplace_back(node, 0);
  };
  open(0);
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    const auto& children = tree[node].Children;
    if (next < children.size()) {
      if (next) out += ',';
      const int child = children[next++];
      open(child);
    } else {
      out += "]}";
      stack.pop_back();
    }
  }
}

}  // namespace

void WriteText(const TCliResult& r, FILE* file) {
  TChunkedOut chunks(file);
  std::string& out = chunks.Text();
  out = "== Log ==";
  out += kEol;
  for (const auto& line : r.log) {
    out += line + kEol;
    chunks.MaybeFlush();
  }
  out += kEol;
  out += "== Unit tree ==";
  out += kEol;
  if (r.tree) WriteTreeText(chunks, *r.tree, r.clauses);
  out += kEol;
  out += "== Initialization order ==";
  out += kEol;
  if (r.order)
    for (int i = 0; i < r.order->Count(); ++i) {
      out += (*r.order)[i].Text + kEol;
      chunks.MaybeFlush();
    }
}

std::string FormatJson(const TCliResult& r) {
  std::string out = "{\"log\":[";
  for (size_t i = 0; i < r.log.size(); ++i) {
    if (i) out += ',';
    AppendJsonString(out, r.log[i]);
  }
  out += "],\"tree\":";
  if (r.tree) AppendTreeJson(out, *r.tree, r.clauses);
  else out += "null";
  out += ",\"order\":[";
  const int count = r.order ? r.order->Count() : 0;
  for (int i = 0; i < count; ++i) {
    const TOrderItem& item = (*r.order)[i];
    if (i) out += ',';
    out += "{\"text\":";
    AppendJsonString(out, item.Text);
    out += ",\"unitFile\":";
    if (item.Data) {
      AppendJsonString(out, item.Data->UnitFile);
      out += ",\"fullPath\":";
      AppendJsonString(out, item.Data->FullPath);
      out += ",\"initText\":";
      AppendJsonString(out, item.Data->InitText);
    } else {
      out += "null,\"fullPath\":null,\"initText\":null";
    }
    out += '}';
  }
  out += "],\"sections\":{";
  for (int i = 0; i < count; ++i) {
    const TOrderItem& item = (*r.order)[i];
    if (i) out += ',';
    AppendJsonString(out, item.Text);
    out += ':';
    AppendJsonString(out, SectionViewText(item.Data));
  }
  out += '}';
  if (r.cycles && r.graph) {
    out += ",\"cycles\":";
    AppendCyclesJson(out, *r.graph, *r.cycles);
  }
  if (r.failed) {
    out += ",\"error\":";
    AppendJsonString(out, r.error);
  }
  out += '}';
  return out;
}

}  // namespace quorrin
