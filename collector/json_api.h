// The JSON answers of the API: the groups, and a group with its reports.
#pragma once

#include <string>
#include <vector>

#include "collector/report_store.h"

namespace kestrix::collector {

// A JSON string literal; bytes that are not UTF-8 are taken as Latin-1
// (the reports' code page stands for itself).
std::string JsonString(const std::string& text);

std::string GroupsJson(const std::vector<TGroupRow>& groups);
// reports: each with its files.
std::string GroupJson(const TGroupDetail& detail, const std::vector<std::vector<TAttachmentRow>>& files);

}  // namespace kestrix::collector
