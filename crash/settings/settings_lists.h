// Lists inside text settings: "|"-separated items (or another separator),
// counted and indexed from 1, compared without regard to letter case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// ASCII case folding as the library compares names.
bool SameText(std::string_view a, std::string_view b);
// Every occurrence of `from`, found ignoring case, replaced by `to`.
std::string ReplaceTextIgnoreCase(std::string_view text, std::string_view from,
                                  std::string_view to);

// 0 for an empty text, otherwise 1 + the number of separators.
int ListCount(std::string_view list, char separator = '|');
// Item n (from 1); empty when missing.
std::string ListItem(std::string_view list, int n, char separator = '|');
std::vector<std::string> ListItems(std::string_view list, char separator = '|');
// Removes leading and trailing control characters, spaces and separators,
// and the spaces and control characters next to each separator.
std::string NormaliseList(std::string_view list, char separator = '|');

// The plug-in list: whole items compared ignoring case.
bool ListContains(std::string_view list, std::string_view name, char separator = '|');
// Enabling puts the name first; disabling removes every occurrence.
std::string SetPluginInList(std::string_view list, std::string_view name, bool enabled);
// The list without every item equal to `item` (ignoring case), normalised.
std::string DropListItem(std::string_view list, std::string_view item);

// One additional attachment: "file>send as>zip>field".
struct TAttachmentSpec {
  std::string file, sendAs, zipName, fieldName;
};
std::vector<TAttachmentSpec> ParseAdditionalAttachments(std::string_view setting);
// "name=content|name=content".
std::vector<std::pair<std::string, std::string>> ParseAdditionalFields(std::string_view setting);

}  // namespace kestrix
