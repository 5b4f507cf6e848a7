// Build-time tool: turns the readable message table (zamsgstr.txt) into the compressed
// block the component carries. The block is the form the message module decodes:
//   u16 language id, u16 compressed length A, u16 name length B, B name letters,
//   A bytes of stream = u32 decoded length, LZSS groups, 4 trailing bytes.
// The decoded data is a compiled 32-bit resource image of string tables (UTF-16), as the
// message lookup walks it.
//
// Usage: zamsggen table.txt output.cpp
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

void put16(std::vector<uint8_t> &v, unsigned x) {
  v.push_back(x & 0xFF);
  v.push_back((x >> 8) & 0xFF);
}
void put32(std::vector<uint8_t> &v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

bool unescape(const std::string &in, std::string &out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out += in[i];
      continue;
    }
    if (++i == in.size())
      return false;
    switch (in[i]) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      default:
        return false;
    }
  }
  return true;
}

// UTF-8 to UTF-16 code units (the table is ASCII today; this keeps other languages possible).
std::vector<uint16_t> utf16(const std::string &s) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    uint32_t cp;
    int n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      n = 3;
    } else {
      cp = c & 0x07;
      n = 4;
    }
    for (int k = 1; k < n && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<uint16_t>(cp));
    }
  }
  return out;
}

void resource_header(std::vector<uint8_t> &v, uint32_t data_size, unsigned type, unsigned name,
                     unsigned flags, unsigned lang) {
  put32(v, data_size);
  put32(v, 32);
  put16(v, 0xFFFF);
  put16(v, type);
  put16(v, 0xFFFF);
  put16(v, name);
  put32(v, 0);
  put16(v, flags);
  put16(v, lang);
  put32(v, 0);
  put32(v, 0);
}

// Greedy LZSS over a 4096-byte ring that starts writing at 4080: references are
// (ring position, length 3..18).
std::vector<uint8_t> compress(const std::vector<uint8_t> &in) {
  std::vector<uint8_t> out;
  put32(out, static_cast<uint32_t>(in.size()));
  size_t i = 0;
  while (i < in.size()) {
    size_t flag_at = out.size();
    out.push_back(0);
    for (int bit = 0; bit < 8 && i < in.size(); ++bit) {
      size_t best_len = 0, best_from = 0;
      size_t lo = i > 4096 - 18 ? i - (4096 - 18) : 0;
      for (size_t j = lo; j < i; ++j) {
        size_t len = 0;
        while (len < 18 && i + len < in.size() && in[j + len] == in[i + len])
          ++len;
        if (len > best_len) {
          best_len = len;
          best_from = j;
          if (len == 18)
            break;
        }
      }
      if (best_len >= 3) {
        unsigned pos = (4080 + best_from) & 4095;
        out.push_back(pos & 0xFF);
        out.push_back(static_cast<uint8_t>(((pos >> 8) << 4) | (best_len - 3)));
        i += best_len;
      } else {
        out[flag_at] |= static_cast<uint8_t>(1 << bit);
        out.push_back(in[i++]);
      }
    }
  }
  put32(out, 0);  // the decoder leaves the last four bytes alone
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: zamsggen table.txt output.cpp\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "zamsggen: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::map<int, std::string> table;
  std::string line;
  int line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    if (line.empty() || line[0] == '#')
      continue;
    size_t q1 = line.find('"'), q2 = line.rfind('"');
    std::string text;
    int id = std::atoi(line.c_str());
    if (id <= 0 || id > 65535 || q1 == std::string::npos || q2 <= q1 ||
        !unescape(line.substr(q1 + 1, q2 - q1 - 1), text) || table.count(id)) {
      std::cerr << argv[1] << ":" << line_no << ": bad or duplicate message line\n";
      return 1;
    }
    table[id] = text;
  }
  std::vector<uint8_t> res;
  resource_header(res, 0, 0, 0, 0, 0);
  std::map<int, std::vector<int>> blocks;
  for (auto &[id, text] : table)
    blocks[id / 16 + 1].push_back(id);
  for (auto &[name, ids] : blocks) {
    std::vector<uint8_t> data;
    for (int k = 0; k < 16; ++k) {
      int id = (name - 1) * 16 + k;
      auto it = table.find(id);
      std::vector<uint16_t> u = it == table.end() ? std::vector<uint16_t>() : utf16(it->second);
      put16(data, static_cast<unsigned>(u.size()));
      for (uint16_t c : u)
        put16(data, c);
    }
    resource_header(res, static_cast<uint32_t>(data.size()), 6, static_cast<unsigned>(name), 0x1030, 0x0409);
    res.insert(res.end(), data.begin(), data.end());
    while (res.size() % 4)
      res.push_back(0);
  }
  std::vector<uint8_t> stream = compress(res);
  std::vector<uint8_t> block;
  put16(block, 0x0409);
  put16(block, static_cast<unsigned>(stream.size()));
  put16(block, 2);
  block.push_back('U');
  block.push_back('S');
  block.insert(block.end(), stream.begin(), stream.end());
  if (stream.size() > 0xFFFF || res.size() >= 50000) {
    std::cerr << "zamsggen: table too large for one block\n";
    return 1;
  }

  std::ostringstream os;
  os << "// Generated by zamsggen from zamsgstr.txt; do not edit.\n"
     << "#include <cstddef>\n\n"
     << "extern const unsigned char zip_builtin_msg_block[] = {";
  for (size_t i = 0; i < block.size(); ++i)
    os << (i % 16 ? " " : "\n    ") << static_cast<unsigned>(block[i]) << ",";
  os << "\n};\nextern const std::size_t zip_builtin_msg_block_size = " << block.size() << ";\n"
     << "extern const std::size_t zip_builtin_msg_decoded_size = " << res.size() << ";\n";
  std::ofstream out(argv[2], std::ios::binary);
  out << os.str();
  return out ? 0 : 1;
}
