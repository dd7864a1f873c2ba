#include "checks/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "program/program_info.h"
#include "records/file_io.h"
#include "records/record_format.h"
#include "results/bp_results.h"

namespace checks {
namespace {

// One value of a check as both reports show it: the JSON literal, and its label on the page.
struct Field {
  std::string key;
  std::string label;
  std::string json;
};
using Fields = std::vector<Field>;

std::string Fixed(double v, int decimals) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v == 0 ? 0.0 : v);
  return buf;
}
std::string Num1(double v) {
  return Fixed(v, 1);
}
std::string Int(long v) {
  return std::to_string(v);
}

std::string Html(std::string_view s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A field's value on the page: strings without their quotes.
std::string Shown(const std::string& json) {
  if (json == "null") return "-";
  if (json.size() >= 2 && json.front() == '"') {
    std::string s;
    for (size_t i = 1; i + 1 < json.size(); ++i) {
      if (json[i] == '\\' && i + 2 < json.size()) ++i;
      s += json[i];
    }
    return s;
  }
  return json;
}

std::string JsonObject(const Fields& fields) {
  std::string out = "{";
  for (const Field& f : fields) {
    if (out.size() > 1) out += ',';
    out += JsonString(f.key) + ':' + f.json;
  }
  return out + "}";
}

Fields ParametersOf(CheckKind kind, const Params& p) {
  const Field ceiling{"ceiling_mmHg", "Ceiling (mmHg)", Int(p.safety.ceilingMmHg)};
  const Field pumpLimit{"pump_limit_s", "Pump limit (s)", Num1(p.safety.pumpLimitS)};
  switch (kind) {
    case CheckKind::kLeak:
      return {{"target_mmHg", "Target (mmHg)", Int(p.leak.targetMmHg)},
              {"settle_s", "Settle (s)", Num1(p.leak.settleS)},
              {"hold_s", "Hold (s)", Num1(p.leak.holdS)},
              ceiling,
              pumpLimit};
    case CheckKind::kStatic: {
      std::string points = "[";
      for (const int v : p.statics.pointsMmHg) {
        if (points.size() > 1) points += ',';
        points += Int(v);
      }
      return {{"points_mmHg", "Points (mmHg)", points + "]"},
              {"settle_s", "Settle (s)", Num1(p.statics.settleS)},
              ceiling,
              pumpLimit};
    }
    case CheckKind::kOverpressure:
      return {{"ceiling_mmHg", "Ceiling (mmHg)", Int(OverpressureCeiling(p.overpressure))},
              pumpLimit};
    case CheckKind::kRepeat:
      return {{"mode", "Mode", JsonString(commands::ModeName(p.repeat.mode))},
              {"inflate_mmHg", "Inflate (mmHg)",
               p.repeat.inflate ? Int(static_cast<long>(*p.repeat.inflate)) : "null"},
              {"count", "Count", Int(p.repeat.count)},
              {"rest_s", "Rest (s)", Num1(p.repeat.restS)},
              {"timeout_s", "Timeout (s)", Num1(p.repeat.timeoutS)}};
  }
  return {};
}

Fields LimitsOf(CheckKind kind, const Params& p) {
  switch (kind) {
    case CheckKind::kLeak:
      return {{"leak_rate_mmHg_min", "Leak rate at most (mmHg/min)", Num1(p.leak.limitMmHgMin)}};
    case CheckKind::kStatic:
      return {{"error_mmHg", "|Error| at most (mmHg)", Num1(p.statics.limitMmHg)}};
    case CheckKind::kOverpressure: {
      const OverpressureParams& o = p.overpressure;
      return {{"limit_mmHg", "Release limit (mmHg)", Int(o.limitMmHg)},
              {"window_low_mmHg", "Window from (mmHg)", Int(o.limitMmHg - o.windowBelowMmHg)},
              {"window_high_mmHg", "Window to (mmHg)", Int(o.limitMmHg + o.windowAboveMmHg)}};
    }
    case CheckKind::kRepeat: {
      Fields out;
      for (size_t q = 0; q < results::kQuantities; ++q) {
        const auto quantity = static_cast<results::Quantity>(q);
        if (const auto& l = p.repeat.limits[quantity]) {
          const std::string name(results::LongName(quantity));
          out.push_back(
              {name, name,
               "{\"value\":" + Num1(l->value) + ",\"tolerance\":" + Num1(l->tolerance) + "}"});
        }
      }
      return out;
    }
  }
  return {};
}

// The columns of one repeat row, named and ordered as measure's CSV.
Fields RowFields(const results::MeasurementRow& row) {
  const auto& b = row.bp;
  std::string tc = results::TcCsvCell(b.tc);
  tc = tc.substr(1, tc.size() - 2);  // the cell's quotes are the CSV's
  return {{"index", "index", Int(row.index)},
          {"start", "start", JsonString(records::IsoLocal(row.startMs))},
          {"duration_s", "duration_s", Num1(row.durationS)},
          {"peak_mmHg", "peak_mmHg", Int(row.peakMmHg)},
          {"systolic", "systolic", Int(b.systolic)},
          {"diastolic", "diastolic", Int(b.diastolic)},
          {"heart_rate", "heart_rate", Int(b.heartRate)},
          {"map", "map", Int(b.map)},
          {"sq", "sq", Int(b.sq)},
          {"err", "err", Int(b.err)},
          {"status", "status", Int(b.status)},
          {"tc", "tc", JsonString(tc)},
          {"mode", "mode", row.mode ? JsonString(commands::ModeName(*row.mode)) : "null"}};
}

Fields ResultsOf(const CheckResult& r) {
  if (const auto* leak = std::get_if<LeakResult>(&r.findings)) {
    return {{"leak_rate_mmHg_min", "Leak rate (mmHg/min)", Num1(leak->rateMmHgMin)},
            {"start_mmHg", "Start (mmHg)", Int(leak->startMmHg)},
            {"end_mmHg", "End (mmHg)", Int(leak->endMmHg)},
            {"drop_mmHg", "Drop (mmHg)", Int(leak->dropMmHg)}};
  }
  if (const auto* st = std::get_if<StaticResult>(&r.findings)) {
    std::string points = "[";
    for (const StaticPoint& p : st->points) {
      if (points.size() > 1) points += ',';
      points += JsonObject({{"target_mmHg", "", Int(p.targetMmHg)},
                            {"module_mmHg", "", Num1(p.moduleMmHg)},
                            {"reference_mmHg", "", Num1(p.referenceMmHg)},
                            {"error_mmHg", "", Num1(p.errorMmHg)}});
    }
    return {{"points", "", points + "]"}};
  }
  if (const auto* op = std::get_if<OverpressureResult>(&r.findings)) {
    return {{"released", "Released by the module", op->released ? "true" : "false"},
            {"peak_mmHg", "Peak (mmHg)", Int(op->peakMmHg)},
            {"release_s", "Pump start to release (s)", op->released ? Num1(op->releaseS) : "null"},
            {"after_2s_mmHg", "2 s after the release (mmHg)",
             op->after2sMmHg ? Int(*op->after2sMmHg) : "null"}};
  }
  const auto& rep = std::get<RepeatResult>(r.findings);
  std::string rows = "[";
  for (const auto& row : rep.rows) {
    if (rows.size() > 1) rows += ',';
    rows += JsonObject(RowFields(row));
  }
  return {{"rows", "", rows + "]"}, {"summary", "", results::SummaryJson(rep.rows)}};
}

double SecondsFrom(int64_t startMs, int64_t ms) {
  return static_cast<double>(ms - startMs) / 1000.0;
}

std::string LocalDate(int64_t ms) {
  return records::IsoLocal(ms).substr(0, 10);
}

const std::map<std::string, std::string>& PhaseColours() {
  static const std::map<std::string, std::string> kColours = {
      {"pump", "#f6c87e"},   {"bleed", "#cdb8e8"},         {"settle", "#bcdcf2"},
      {"hold", "#a6d8ae"},   {"reference", "#e8e4a0"},     {"release", "#eab4b4"},
      {"watch", "#f6c87e"},  {"after release", "#eab4b4"}, {"measure", "#bcdcf2"},
      {"result", "#e8e4a0"}, {"rest", "#dddddd"}};
  return kColours;
}

// The colours of the phases the run went through, in the order they first came.
std::string Legend(const RunRecord& run) {
  std::vector<std::string> seen;
  for (const PhaseSpan& s : run.phases) {
    if (std::find(seen.begin(), seen.end(), s.name) == seen.end()) seen.push_back(s.name);
  }
  std::string out = "<p class=\"legend\">";
  for (const std::string& name : seen) {
    const auto c = PhaseColours().find(name);
    out += "<span style=\"background:" +
           (c == PhaseColours().end() ? std::string("#eeeeee") : c->second) + "\">" + Html(name) +
           "</span> ";
  }
  return out + "</p>\n";
}

// The pressure chart: the trace over the phases' shading. Its look is in its own attributes, not
// in the page's style, so that it draws alike wherever it is taken (the PDF and the printout too).
std::string Svg(const RunRecord& run) {
  constexpr double kW = 960, kH = 320, kLeft = 50, kRight = 10, kTop = 10, kBottom = 30;
  int64_t endMs = run.startMs + 1000;
  int top = 350;
  for (const TracePoint& t : run.trace) {
    endMs = std::max(endMs, t.ms);
    top = std::max(top, (t.mmHg + 49) / 50 * 50);
  }
  for (const PhaseSpan& s : run.phases) endMs = std::max(endMs, s.toMs);
  const double span = SecondsFrom(run.startMs, endMs);
  const auto x = [&](double s) { return kLeft + (kW - kLeft - kRight) * s / span; };
  const auto y = [&](double mmHg) { return kTop + (kH - kTop - kBottom) * (1 - mmHg / top); };
  const auto text = [](double tx, double ty, const char* anchor, const std::string& content) {
    return "<text x=\"" + Fixed(tx, 1) + "\" y=\"" + Fixed(ty, 1) + "\" text-anchor=\"" + anchor +
           "\">" + content + "</text>";
  };
  const auto& kColours = PhaseColours();
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fixed(kW, 0) + "\" height=\"" +
      Fixed(kH, 0) + "\" viewBox=\"0 0 " + Fixed(kW, 0) + ' ' + Fixed(kH, 0) +
      "\" role=\"img\" aria-label=\"Cuff pressure\" font-family=\"sans-serif\" fill=\"#333\" "
      "font-size=\"11\">\n";
  size_t lastCheck = static_cast<size_t>(-1);
  for (const PhaseSpan& s : run.phases) {
    const double x0 = x(SecondsFrom(run.startMs, s.fromMs));
    const double x1 = x(SecondsFrom(run.startMs, std::max(s.fromMs, s.toMs)));
    const auto colour = kColours.find(s.name);
    svg += "<rect x=\"" + Fixed(x0, 1) + "\" y=\"" + Fixed(kTop, 0) + "\" width=\"" +
           Fixed(std::max(x1 - x0, 0.5), 1) + "\" height=\"" + Fixed(kH - kTop - kBottom, 0) +
           "\" fill=\"" + (colour == kColours.end() ? "#eeeeee" : colour->second) + "\"><title>" +
           Html(s.name) + "</title></rect>\n";
    if (s.check != lastCheck && s.check < run.results.size()) {
      lastCheck = s.check;
      svg += "<line x1=\"" + Fixed(x0, 1) + "\" y1=\"" + Fixed(kTop, 0) + "\" x2=\"" +
             Fixed(x0, 1) + "\" y2=\"" + Fixed(kH - kBottom, 0) +
             "\" stroke=\"#555\" stroke-dasharray=\"3 3\"/>\n";
      svg += text(x0 + 3, kTop + 12, "start", Html(CheckName(run.results[s.check].kind))) + '\n';
    }
  }
  for (int v = 0; v <= top; v += 50) {
    svg += "<line x1=\"" + Fixed(kLeft, 0) + "\" y1=\"" + Fixed(y(v), 1) + "\" x2=\"" +
           Fixed(kW - kRight, 0) + "\" y2=\"" + Fixed(y(v), 1) +
           "\" stroke=\"#ccc\" stroke-width=\"0.5\"/>";
    svg += text(kLeft - 4, y(v) + 4, "end", Int(v)) + '\n';
  }
  double step = 1;
  for (const double s : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1800.0, 3600.0,
                         7200.0, 21600.0}) {
    step = s;
    if (span / s <= 12) break;
  }
  for (double s = 0; s <= span; s += step)
    svg += text(x(s), kH - kBottom + 16, "middle", Fixed(s, 0));
  svg += text(kW - kRight, kH - 2, "end", "s") + text(4, kH - 2, "start", "mmHg") +
         "\n<polyline fill=\"none\" stroke=\"#1f4fb0\" stroke-width=\"1.2\" points=\"";
  for (const TracePoint& t : run.trace) {
    svg += Fixed(x(SecondsFrom(run.startMs, t.ms)), 1) + ',' + Fixed(y(t.mmHg), 1) + ' ';
  }
  return svg + "\"/>\n</svg>\n";
}

std::string FieldsTable(const Fields& fields) {
  std::string out = "<table>";
  for (const Field& f : fields) {
    out += "<tr><th>" + Html(f.label) + "</th><td>" + Html(Shown(f.json)) + "</td></tr>";
  }
  return out + "</table>\n";
}

const char* kStyle =
    "body{font-family:sans-serif;margin:2em;color:#222}"
    "table{border-collapse:collapse;margin:.5em 0}"
    "th,td{border:1px solid #bbb;padding:.2em .6em;text-align:left}"
    "th{background:#f2f2f2;font-weight:normal}"
    ".PASS{color:#186a1f}.FAIL{color:#b01515}.ABORTED{color:#b05a00}.INFO{color:#1a4f8a}"
    ".warning{background:#fff3c4;border:1px solid #d9b300;padding:.4em}"
    ".figures{display:flex;gap:2em;flex-wrap:wrap}"
    ".legend span{padding:.1em .5em;margin-right:.3em;font-size:90%}";

}  // namespace

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

RunRecord RecordOf(const Engine& engine) {
  return {.startMs = engine.StartMs(),
          .params = engine.Parameters(),
          .results = engine.Results(),
          .trace = engine.Trace(),
          .phases = engine.Phases()};
}

std::optional<std::string> DueWarning(const ReportInfo& info, int64_t startMs) {
  if (info.referenceDue.empty() || info.referenceDue >= LocalDate(startMs)) return std::nullopt;
  return "the reference's due date " + info.referenceDue + " is in the past";
}

std::string ReportJson(const ReportInfo& info, const RunRecord& run) {
  const auto warning = DueWarning(info, run.startMs);
  std::string out = "{\"verdict\":" + JsonString(VerdictName(Overall(run.results)));
  out += ",\"started\":" + JsonString(records::IsoLocal(run.startMs));
  out += ",\"program_version\":" + JsonString(program::Version());
  out += ",\"operator\":" + JsonString(info.operatorName);
  out += ",\"module_id\":" + JsonString(info.moduleId);
  out += ",\"port\":" + JsonString(info.port);
  out += ",\"device\":" + JsonString(info.device);
  out += ",\"reference\":{\"name\":" + JsonString(info.referenceName) +
         ",\"due\":" + (info.referenceDue.empty() ? "null" : JsonString(info.referenceDue)) +
         ",\"due_past\":" + (warning ? "true" : "false") + "}";
  out += ",\"warnings\":[";
  if (warning) out += JsonString(*warning);
  out += "],\"checks\":[";
  for (size_t i = 0; i < run.results.size(); ++i) {
    const CheckResult& r = run.results[i];
    if (i > 0) out += ',';
    out += "\n{\"name\":" + JsonString(CheckName(r.kind)) +
           ",\"verdict\":" + JsonString(VerdictName(r.verdict)) +
           ",\"reason\":" + JsonString(r.reason) +
           ",\"start_s\":" + Fixed(SecondsFrom(run.startMs, r.startMs), 3) +
           ",\"end_s\":" + Fixed(SecondsFrom(run.startMs, r.endMs), 3) +
           ",\"parameters\":" + JsonObject(ParametersOf(r.kind, run.params)) +
           ",\"limits\":" + JsonObject(LimitsOf(r.kind, run.params)) +
           ",\"results\":" + JsonObject(ResultsOf(r)) + "}";
  }
  out += "],\n\"phases\":[";
  for (size_t i = 0; i < run.phases.size(); ++i) {
    const PhaseSpan& s = run.phases[i];
    if (i > 0) out += ',';
    out += "{\"check\":" + Int(static_cast<long>(s.check)) + ",\"name\":" + JsonString(s.name) +
           ",\"from_s\":" + Fixed(SecondsFrom(run.startMs, s.fromMs), 3) +
           ",\"to_s\":" + Fixed(SecondsFrom(run.startMs, std::max(s.fromMs, s.toMs)), 3) + "}";
  }
  out += "],\n\"trace\":[";
  for (size_t i = 0; i < run.trace.size(); ++i) {
    if (i > 0) out += ',';
    out += '[' + Fixed(SecondsFrom(run.startMs, run.trace[i].ms), 3) + ',' +
           Int(run.trace[i].mmHg) + ']';
  }
  return out + "]}\n";
}

std::string ReportHtml(const ReportInfo& info, const RunRecord& run) {
  const std::string verdict(VerdictName(Overall(run.results)));
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Service "
      "checks " +
      Html(info.port) + ": " + verdict + "</title>\n<style>" + kStyle +
      "</style>\n</head>\n<body>\n<h1>Service checks: <span class=\"" + verdict + "\">" + verdict +
      "</span></h1>\n";
  if (const auto warning = DueWarning(info, run.startMs)) {
    out += "<p class=\"warning\">Warning: " + Html(*warning) + ".</p>\n";
  }
  out += FieldsTable({{"", "Started", JsonString(records::IsoLocal(run.startMs))},
                      {"", "Program version", JsonString(program::Version())},
                      {"", "Operator", JsonString(info.operatorName)},
                      {"", "Module ID", JsonString(info.moduleId)},
                      {"", "Port", JsonString(info.port)},
                      {"", "Device", JsonString(info.device)},
                      {"", "Reference", JsonString(info.referenceName)},
                      {"", "Reference due", JsonString(info.referenceDue)}});
  out += "<h2>Cuff pressure</h2>\n" + Svg(run) + Legend(run);
  for (const CheckResult& r : run.results) {
    const std::string v(VerdictName(r.verdict));
    out += "<h2>" + Html(CheckName(r.kind)) + ": <span class=\"" + v + "\">" + v + "</span></h2>\n";
    if (!r.reason.empty()) out += "<p>" + Html(r.reason) + "</p>\n";
    out += "<div class=\"figures\"><div><h3>Parameters</h3>" +
           FieldsTable(ParametersOf(r.kind, run.params)) + "</div>";
    const Fields limits = LimitsOf(r.kind, run.params);
    out +=
        "<div><h3>Limits</h3>" + (limits.empty() ? "<p>none</p>" : FieldsTable(limits)) + "</div>";
    out += "<div><h3>Results</h3>";
    if (const auto* st = std::get_if<StaticResult>(&r.findings)) {
      out +=
          "<table><tr><th>Point (mmHg)</th><th>Module (mmHg)</th><th>Reference "
          "(mmHg)</th><th>Error (mmHg)</th></tr>";
      for (const StaticPoint& p : st->points) {
        out += "<tr><td>" + Int(p.targetMmHg) + "</td><td>" + Num1(p.moduleMmHg) + "</td><td>" +
               Num1(p.referenceMmHg) + "</td><td>" + Num1(p.errorMmHg) + "</td></tr>";
      }
      out += "</table>\n";
    } else if (const auto* rep = std::get_if<RepeatResult>(&r.findings)) {
      out += "<table><tr>";
      std::string header = results::kCsvHeader;
      for (size_t from = 0; from <= header.size();) {
        const size_t to = std::min(header.find(',', from), header.size());
        out += "<th>" + Html(header.substr(from, to - from)) + "</th>";
        from = to + 1;
      }
      out += "</tr>";
      for (const auto& row : rep->rows) {
        out += "<tr>";
        for (const Field& f : RowFields(row)) out += "<td>" + Html(Shown(f.json)) + "</td>";
        out += "</tr>";
      }
      out += "</table>\n<p>" + Html(results::SummaryText(rep->rows)) + "</p>\n";
    } else {
      out += FieldsTable(ResultsOf(r));
    }
    out += "</div></div>\n";
  }
  return out + "</body>\n</html>\n";
}

std::string JsonPathBeside(const std::string& htmlPath) {
  constexpr std::string_view kHtml = ".html";
  if (htmlPath.size() > kHtml.size() &&
      htmlPath.compare(htmlPath.size() - kHtml.size(), kHtml.size(), kHtml) == 0) {
    return htmlPath.substr(0, htmlPath.size() - kHtml.size()) + ".json";
  }
  return htmlPath + ".json";
}

std::string ReportPathForPort(const std::string& htmlPath, const std::string& port) {
  constexpr std::string_view kHtml = ".html";
  if (htmlPath.size() > kHtml.size() &&
      htmlPath.compare(htmlPath.size() - kHtml.size(), kHtml.size(), kHtml) == 0) {
    return htmlPath.substr(0, htmlPath.size() - kHtml.size()) + "-" + port + ".html";
  }
  return htmlPath + "-" + port;
}

std::string WriteReports(const std::string& htmlPath, const ReportInfo& info,
                         const RunRecord& run) {
  for (const auto& [path, text] : {std::pair{htmlPath, ReportHtml(info, run)},
                                   std::pair{JsonPathBeside(htmlPath), ReportJson(info, run)}}) {
    const std::string error = records::ReplaceFile(path, [t = &text](std::string& buf) {
      buf = *t;
      return false;  // all in one piece
    });
    if (!error.empty()) return path + ": " + error;
  }
  return {};
}

}  // namespace checks
