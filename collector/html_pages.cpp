// The collector's HTML pages (see html_pages.h).
#include "collector/html_pages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "report_ui/views/report_tabs.h"

namespace kestrix::collector {

namespace {

const char kStyle[] =
    "body{font:14px/1.4 sans-serif;margin:0;color:#222}header{background:#2d3e50;color:#fff;padding:8px 16px}"
    "header a{color:#fff;text-decoration:none;font-weight:bold}main{padding:12px 16px}"
    "table{border-collapse:collapse;width:100%}th,td{border-bottom:1px solid #ddd;padding:4px 6px;text-align:left;"
    "vertical-align:top}th a{color:#222}tr:hover td{background:#f5f8fc}.num{text-align:right}"
    ".fixed{color:#287a2e}.regression{color:#fff;background:#c0392b;padding:1px 5px;border-radius:3px}"
    "form.filter{margin-bottom:10px}form.filter *{margin-right:6px}pre,.mono{font-family:monospace;font-size:12px}"
    "nav.tabs a{display:inline-block;padding:4px 10px;border:1px solid #ccc;border-bottom:none;margin-right:2px;"
    "color:#222;text-decoration:none;background:#eee}nav.tabs a.current{background:#fff;font-weight:bold}"
    "section.tab{border:1px solid #ccc;padding:6px;overflow:auto}td.title{font-weight:bold;background:#eef}"
    "section.tab td:first-child{white-space:nowrap}img.shot{max-width:640px;border:1px solid #ccc}.muted{color:#777}";

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
         "</title><style>" + kStyle + "</style></head><body><header><a href=\"/\">kxcollect</a> &middot; " +
         HtmlEscape(title) + "</header><main>" + body + "</main></body></html>\n";
}

std::string Num(int64_t n) { return std::to_string(n); }

std::string Options(const std::vector<std::string>& values, const std::string& selected, const char* all) {
  std::string out = std::string("<option value=\"\">") + all + "</option>";
  for (const std::string& v : values)
    out += "<option value=\"" + HtmlEscape(v) + "\"" + (v == selected ? " selected" : "") + ">" +
           HtmlEscape(v.empty() ? "?" : v) + "</option>";
  return out;
}

std::string Status(const TGroupRow& g) {
  if (!g.regressionIn.empty()) return "<span class=\"regression\">regression in " + HtmlEscape(g.regressionIn) + "</span>";
  if (!g.fixedIn.empty()) return "<span class=\"fixed\">fixed in " + HtmlEscape(g.fixedIn) + "</span>";
  return "";
}

std::string SortLink(const TGroupFilter& f, const char* sort, const char* label) {
  const std::string href = "/?sort=" + std::string(sort) + "&amp;version=" + HtmlEscape(UrlEncode(f.version)) +
                           "&amp;class=" + HtmlEscape(UrlEncode(f.exceptionClass)) + "&amp;q=" +
                           HtmlEscape(UrlEncode(f.text));
  return "<a href=\"" + href + "\" id=\"sort-" + sort + "\">" + label + (f.sort == sort ? " &#9662;" : "") + "</a>";
}

std::string TabHtml(const views::TTabModel& model, const std::string& text) {
  if (!model.ShowsList()) return "<pre>" + HtmlEscape(text) + "</pre>";
  std::string out = "<table class=\"mono\">";
  if (model.header) {
    out += "<tr>";
    for (const views::TColumn& c : model.columns) out += "<th>" + HtmlEscape(c.caption) + "</th>";
    out += "</tr>";
  }
  for (const views::TTabItem& item : model.items) {
    if (item.line.rfind(">>", 0) == 0) {
      out += "<tr><td class=\"title\" colspan=\"" + Num(static_cast<int64_t>(model.columns.size())) + "\">" +
             HtmlEscape(item.line.substr(2)) + "</td></tr>";
      continue;
    }
    char colour[16] = "";
    if (item.colour)
      std::snprintf(colour, sizeof colour, "#%02x%02x%02x", item.colour & 0xff, (item.colour >> 8) & 0xff,
                    (item.colour >> 16) & 0xff);
    out += std::string("<tr") + (item.colour ? std::string(" style=\"background:") + colour + "\"" : "") + ">";
    for (const std::string& cell : views::SplitCells(item.line, model.columns))
      out += "<td>" + HtmlEscape(cell) + "</td>";
    out += "</tr>";
  }
  return out + "</table>";
}

std::string AttachmentLink(const TAttachmentRow& a) {
  return "<a href=\"/reports/" + Num(a.reportId) + "/files/" + Num(a.position) + "\">" + HtmlEscape(a.name) +
         "</a> <span class=\"muted\">(" + Num(a.size) + " bytes)</span>";
}

}  // namespace

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string GroupsPage(const std::vector<TGroupRow>& groups, const TGroupFilter& f,
                       const std::vector<std::string>& classes, const std::vector<std::string>& versions) {
  std::string body =
      "<form class=\"filter\" method=\"get\" action=\"/\"><input type=\"hidden\" name=\"sort\" value=\"" +
      HtmlEscape(f.sort) + "\"><label>Version <select name=\"version\" id=\"version\">" +
      Options(versions, f.version, "all") + "</select></label><label>Class <select name=\"class\" id=\"class\">" +
      Options(classes, f.exceptionClass, "all") +
      "</select></label><label>Text <input name=\"q\" id=\"q\" value=\"" + HtmlEscape(f.text) +
      "\"></label><button type=\"submit\" id=\"apply\">Filter</button></form>";
  body += "<table id=\"groups\"><tr><th>" + SortLink(f, "class", "Class") + "</th><th>Message</th><th>Where</th><th class=\"num\">" +
          SortLink(f, "count", "Count") + "</th><th class=\"num\">" + SortLink(f, "users", "Users") + "</th><th>" +
          SortLink(f, "first", "First seen") + "</th><th>" + SortLink(f, "last", "Last seen") +
          "</th><th>Versions</th><th></th></tr>";
  for (const TGroupRow& g : groups) {
    body += "<tr class=\"group\" data-id=\"" + Num(g.id) + "\"><td><a href=\"/groups/" + Num(g.id) + "\">" +
            HtmlEscape(g.exceptionClass) + "</a></td><td>" + HtmlEscape(g.exceptionMessage) +
            "</td><td class=\"mono\">" + HtmlEscape(g.location) + "</td><td class=\"num count\">" + Num(g.count) +
            "</td><td class=\"num\">" + Num(g.users) + "</td><td>" + HtmlEscape(g.firstSeen) + "</td><td>" +
            HtmlEscape(g.lastSeen) + "</td><td>" + HtmlEscape(g.versions) + "</td><td>" + Status(g) + "</td></tr>";
  }
  body += "</table>";
  if (groups.empty()) body += "<p class=\"muted\">No reports match.</p>";
  return Page("Crash groups", body);
}

std::string OccurrencesChart(const std::vector<std::pair<std::string, int64_t>>& days) {
  const int width = 720, height = 160, left = 40, bottom = 24;
  int64_t most = 1;
  for (const auto& d : days) most = std::max(most, d.second);
  std::string svg = "<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(width) + "\" height=\"" +
                    Num(height) + "\" role=\"img\" aria-label=\"occurrences per day\">";
  svg += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(height - bottom) + "\" x2=\"" + Num(width) + "\" y2=\"" +
         Num(height - bottom) + "\" stroke=\"#888\"/>";
  svg += "<text x=\"2\" y=\"14\" font-size=\"11\">" + Num(most) + "</text>";
  const size_t n = std::max<size_t>(days.size(), 1);
  const double slot = static_cast<double>(width - left) / static_cast<double>(n);
  for (size_t i = 0; i < days.size(); ++i) {
    const double h = static_cast<double>(height - bottom - 16) * static_cast<double>(days[i].second) /
                     static_cast<double>(most);
    char bar[256];
    std::snprintf(bar, sizeof bar,
                  "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#3b7dd8\"><title>", left + i * slot + 1,
                  height - bottom - h, std::max(1.0, slot - 2), h);
    svg += bar + HtmlEscape(days[i].first) + ": " + Num(days[i].second) + "</title></rect>";
  }
  if (!days.empty()) {
    svg += "<text x=\"" + Num(left) + "\" y=\"" + Num(height - 6) + "\" font-size=\"11\">" + HtmlEscape(days.front().first) + "</text>";
    svg += "<text x=\"" + Num(width - 70) + "\" y=\"" + Num(height - 6) + "\" font-size=\"11\">" + HtmlEscape(days.back().first) + "</text>";
  }
  return svg + "</svg>";
}

std::string GroupPage(const TGroupPageData& data) {
  const TGroupRow& g = data.detail.group;
  const std::string id = Num(g.id);
  std::string body = "<h2 id=\"title\">" + HtmlEscape(g.exceptionClass) + ": " + HtmlEscape(g.exceptionMessage) +
                     "</h2><p class=\"mono\" id=\"location\">" + HtmlEscape(g.location) + "</p>";
  body += "<p><b id=\"count\">" + Num(g.count) + "</b> occurrences, " + Num(g.users) + " users, first seen " +
          HtmlEscape(g.firstSeen) + ", last seen " + HtmlEscape(g.lastSeen) + ". " + Status(g) + "</p>";
  body += OccurrencesChart(data.detail.days);
  body += "<h3>Versions</h3><table id=\"versions\"><tr><th>Version</th><th class=\"num\">Count</th><th>First seen</th>"
          "<th>Last seen</th></tr>";
  for (const TVersionRow& v : data.detail.versions)
    body += "<tr><td>" + HtmlEscape(v.version.empty() ? "?" : v.version) + "</td><td class=\"num\">" + Num(v.count) +
            "</td><td>" + HtmlEscape(v.firstSeen) + "</td><td>" + HtmlEscape(v.lastSeen) + "</td></tr>";
  body += "</table><form method=\"post\" action=\"/groups/" + id +
          "/fixed\"><label>Fixed in version <input name=\"version\" id=\"fixed-version\" value=\"" +
          HtmlEscape(g.fixedIn) + "\"></label> <button type=\"submit\">Mark fixed</button> <span class=\"muted\">"
          "(needs the login)</span></form>";
  if (data.haveReport) {
    body += "<h3 id=\"report\">Newest report (#" + Num(data.latest.id) + ", " + HtmlEscape(data.latest.computer) +
            ", " + HtmlEscape(data.latest.occurred) + ")</h3>";
    const std::vector<std::string> names = views::TabNames(data.report.sections);
    body += "<nav class=\"tabs\">";
    for (size_t t = 0; t < names.size(); ++t)
      body += "<a href=\"/groups/" + id + "?tab=" + Num(static_cast<int64_t>(t)) + "#report\"" +
              (static_cast<int>(t) == data.tab ? " class=\"current\"" : "") + ">" + HtmlEscape(names[t]) + "</a>";
    body += "</nav><section class=\"tab\" id=\"tab\">";
    std::string sectionName;
    const std::string text = views::TabText(data.tab, data.report.header, data.report.sections, &sectionName);
    views::TTabModel model;
    views::BuildTab(data.tab, sectionName, text, model);
    body += TabHtml(model, text) + "</section>";
    for (const TAttachmentRow& a : data.latestFiles) {
      if (a.kind != "screenshot") continue;
      body += "<h3>Screenshot</h3><img class=\"shot\" alt=\"screenshot\" src=\"/reports/" + Num(a.reportId) +
              "/files/" + Num(a.position) + "\">";
      break;
    }
  }
  body += "<h3>Reports (" + Num(data.detail.reportCount) + ")</h3><table id=\"reports\"><tr><th>#</th><th>Received"
          "</th><th>Occurred</th><th>Computer</th><th>Version</th><th class=\"num\">Count</th><th>Files</th></tr>";
  for (const TReportRow& r : data.detail.reports) {
    body += "<tr><td>" + Num(r.id) + "</td><td>" + HtmlEscape(r.received) + "</td><td>" + HtmlEscape(r.occurred) +
            "</td><td>" + HtmlEscape(r.computer) + "</td><td>" + HtmlEscape(r.version) + "</td><td class=\"num\">" +
            Num(r.count) + "</td><td><a href=\"/reports/" + Num(r.id) + "\">files</a>" +
            (r.named ? " <span class=\"muted\">(named from .kx)</span>" : "") + "</td></tr>";
  }
  body += "</table>";
  const std::string base = "/groups/" + id + "?tab=" + Num(data.tab) + "&amp;offset=";
  if (data.offset > 0)
    body += "<a href=\"" + base + Num(static_cast<int64_t>(data.offset > data.pageSize ? data.offset - data.pageSize : 0)) + "\">newer</a> ";
  if (data.offset + data.pageSize < static_cast<size_t>(data.detail.reportCount))
    body += "<a href=\"" + base + Num(static_cast<int64_t>(data.offset + data.pageSize)) + "\">older</a>";
  return Page(g.exceptionClass + " (group " + id + ")", body);
}

std::string MessagePage(int status, const std::string& title, const std::string& text) {
  return Page(std::to_string(status) + " " + title, "<p>" + HtmlEscape(text) + "</p>");
}

std::string ReportFilesPage(const TReportRow& r, const std::vector<TAttachmentRow>& files) {
  std::string body = "<p>Report #" + Num(r.id) + " of <a href=\"/groups/" + Num(r.groupId) + "\">group " +
                     Num(r.groupId) + "</a>, from " + HtmlEscape(r.computer) + ", " + HtmlEscape(r.occurred) +
                     "</p><ul id=\"files\">";
  for (const TAttachmentRow& a : files) body += "<li>" + AttachmentLink(a) + " <span class=\"muted\">" + HtmlEscape(a.kind) + "</span></li>";
  return Page("Report " + Num(r.id), body + "</ul>");
}

}  // namespace kestrix::collector
