#include "cli/batch_report.h"

#include <cstdio>

#include "texts/language_table.h"

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          json += escaped;
        } else {
          json += c;
        }
    }
  }
  json += '"';
  return json;
}

std::string_view ResultStatus(const FileResult& result) {
  if (result.converted) return "converted";
  if (result.failure == FileFailure::NotReached) return "not reached";
  return "failed";
}

std::string FailureReason(const FileResult& result) {
  if (result.converted) return {};
  const std::string_view key = FailureTextKey(result.failure);
  return key.empty() ? std::string() : GetText("Msg", key);
}

void WriteJsonLinesReport(std::ostream& out, const std::vector<FileResult>& results) {
  for (const FileResult& result : results) {
    out << "{\"input\":" << JsonString(result.input)
        << ",\"output\":" << JsonString(result.output_path)
        << ",\"status\":" << JsonString(ResultStatus(result))
        << ",\"reason\":" << JsonString(FailureReason(result))
        << ",\"milliseconds\":" << result.milliseconds
        << ",\"left_out\":" << JsonString(result.left_out) << "}\n";
  }
}
