#include "crash/settings/settings_lists.h"

namespace kestrix {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

size_t FindIgnoreCase(std::string_view text, std::string_view what, size_t from) {
  if (what.empty() || what.size() > text.size()) return std::string_view::npos;
  for (size_t i = from; i + what.size() <= text.size(); ++i)
    if (SameText(text.substr(i, what.size()), what)) return i;
  return std::string_view::npos;
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string ReplaceTextIgnoreCase(std::string_view text, std::string_view from,
                                  std::string_view to) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t hit = FindIgnoreCase(text, from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

int ListCount(std::string_view list, char separator) {
  if (list.empty()) return 0;
  int n = 1;
  for (char c : list) n += c == separator;
  return n;
}

std::string ListItem(std::string_view list, int n, char separator) {
  if (n < 1) return std::string();
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    size_t next = list.find(separator, start);
    if (next == std::string_view::npos) return std::string();
    start = next + 1;
  }
  size_t end = list.find(separator, start);
  return std::string(list.substr(start, end == std::string_view::npos ? end : end - start));
}

std::vector<std::string> ListItems(std::string_view list, char separator) {
  std::vector<std::string> items;
  if (list.empty()) return items;
  size_t start = 0;
  for (;;) {
    size_t end = list.find(separator, start);
    items.emplace_back(list.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return items;
    start = end + 1;
  }
}

std::string NormaliseList(std::string_view list, char separator) {
  size_t b = 0, e = list.size();
  while (b < e && (IsBlank(list[b]) || list[b] == separator)) ++b;
  while (e > b && (IsBlank(list[e - 1]) || list[e - 1] == separator)) --e;
  std::string out;
  for (size_t i = b; i < e; ++i) {
    char c = list[i];
    if (IsBlank(c)) {
      // Blanks that lead to a separator, or follow one, go.
      size_t j = i;
      while (j < e && IsBlank(list[j])) ++j;
      bool beforeSeparator = j < e && list[j] == separator;
      bool afterSeparator = !out.empty() && out.back() == separator;
      if (beforeSeparator || afterSeparator) {
        i = j - 1;
        continue;
      }
    }
    out += c;
  }
  return out;
}

bool ListContains(std::string_view list, std::string_view name, char separator) {
  for (const std::string& item : ListItems(list, separator))
    if (SameText(item, name)) return true;
  return false;
}

std::string SetPluginInList(std::string_view list, std::string_view name, bool enabled) {
  bool present = ListContains(list, name);
  if (enabled) {
    if (present) return std::string(list);
    return list.empty() ? std::string(name) : std::string(name) + "|" + std::string(list);
  }
  if (!present) return std::string(list);
  std::string wrapped = "|" + std::string(list) + "|";
  std::string needle = "|" + std::string(name) + "|";
  // Repeated until none is left, so that adjacent occurrences both go.
  for (std::string next; (next = ReplaceTextIgnoreCase(wrapped, needle, "|")) != wrapped;)
    wrapped = std::move(next);
  if (!wrapped.empty() && wrapped.front() == '|') wrapped.erase(0, 1);
  if (!wrapped.empty() && wrapped.back() == '|') wrapped.pop_back();
  return wrapped;
}

std::string DropListItem(std::string_view list, std::string_view item) {
  std::string wrapped = "|" + std::string(list) + "|";
  std::string needle = "|" + std::string(item) + "|";
  for (std::string next; (next = ReplaceTextIgnoreCase(wrapped, needle, "|")) != wrapped;)
    wrapped = std::move(next);
  return NormaliseList(wrapped);
}

std::vector<TAttachmentSpec> ParseAdditionalAttachments(std::string_view setting) {
  std::vector<TAttachmentSpec> result;
  for (const std::string& item : ListItems(setting)) {
    if (item.empty()) continue;
    result.push_back({ListItem(item, 1, '>'), ListItem(item, 2, '>'), ListItem(item, 3, '>'),
                      ListItem(item, 4, '>')});
  }
  return result;
}

std::vector<std::pair<std::string, std::string>> ParseAdditionalFields(std::string_view setting) {
  std::vector<std::pair<std::string, std::string>> result;
  for (const std::string& item : ListItems(setting)) {
    if (item.empty()) continue;
    // The content is everything after the first "=", so that it may hold "=".
    size_t eq = item.find('=');
    result.emplace_back(item.substr(0, eq),
                        eq == std::string::npos ? std::string() : item.substr(eq + 1));
  }
  return result;
}

}  // namespace kestrix
