#include "tools/boxsim/report.h"

#include <cstdio>
#include <fstream>

namespace boxsim {

std::string json_quote(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
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
        // Bytes above 0x7f are escaped as their Latin-1 code points: typed bytes are
        // not UTF-8 we can vouch for, and the file must always parse.
        if (c < 0x20 || c >= 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  out += '"';
  return out;
}

void Report::new_box(const std::string &next_mac) {
  Report fresh(path_);
  fresh.line = line;
  fresh.mac = next_mac;
  fresh.box = box + 1;
  *this = fresh;
}

std::string Report::to_json() const {
  std::string j = "{\n";
  j += "  \"line\": " + json_quote(line) + ",\n";
  j += "  \"mac\": " + json_quote(mac) + ",\n";
  j += "  \"box\": " + std::to_string(box) + ",\n";
  j += "  \"state\": " + json_quote(state) + ",\n";
  j += "  \"boots\": " + std::to_string(boots) + ",\n";
  j += "  \"breaks_at_prompt\": " + std::to_string(breaks_at_prompt) + ",\n";
  j += "  \"ip\": " + json_quote(ip) + ",\n";
  j += "  \"mask\": " + json_quote(mask) + ",\n";
  j += "  \"vanished\": " + std::string(vanished ? "true" : "false") + ",\n";
  j += "  \"console_bytes_dropped\": " + std::to_string(console_bytes_dropped) + ",\n";

  j += "  \"partitions\": {";
  bool first = true;
  for (const auto &[name, p] : partitions) {
    j += first ? "\n" : ",\n";
    first = false;
    j += "    " + json_quote(name) + ": {\"size\": " + std::to_string(p.size) +
         ", \"sha256\": " + json_quote(p.sha256) + ", \"source\": " + json_quote(p.source) +
         ", \"writes\": " + std::to_string(p.writes) + "}";
  }
  j += first ? "},\n" : "\n  },\n";

  j += "  \"erased\": [";
  for (std::size_t i = 0; i < erased.size(); ++i)
    j += (i ? ", " : "") + json_quote(erased[i]);
  j += "],\n";

  j += "  \"commands\": [";
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const CommandRecord &c = commands[i];
    j += i ? ",\n" : "\n";
    j += "    {\"number\": " + std::to_string(c.number) + ", \"boot\": " + std::to_string(c.boot) +
         ", \"line\": " + json_quote(c.line) +
         ", \"status\": " + (c.status ? std::to_string(*c.status) : std::string("null")) + "}";
  }
  j += commands.empty() ? "],\n" : "\n  ],\n";

  j += "  \"transfers\": [";
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const TransferRecord &t = transfers[i];
    j += i ? ",\n" : "\n";
    j += "    {\"server\": " + json_quote(t.server) + ", \"file\": " + json_quote(t.file) +
         ", \"status\": " + std::to_string(t.status) + ", \"error\": " + json_quote(t.error) +
         ", \"bytes\": " + std::to_string(t.bytes) + ", \"blocks\": " + std::to_string(t.blocks) +
         ", \"retries\": " + std::to_string(t.retries) + ", \"acks_lost\": " + std::to_string(t.acks_lost) +
         ", \"acks_duplicated\": " + std::to_string(t.acks_duplicated) +
         ", \"foreign_packets\": " + std::to_string(t.foreign_packets) +
         ", \"requested\": " + (t.requested ? "true" : "false") + "}";
  }
  j += transfers.empty() ? "]\n" : "\n  ]\n";
  j += "}\n";
  return j;
}

bool Report::save() const {
  if (path_.empty())
    return true;
  const std::string temp = path_ + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out)
      return false;
    out << to_json();
    out.flush();
    if (!out)
      return false;
  }
  return std::rename(temp.c_str(), path_.c_str()) == 0;
}

}  // namespace boxsim
