// The one rule by which a file pattern picks archive entries. The component finds entries
// with it and the library chooses what to extract with it, so a pattern that finds an entry
// in the listing also extracts it.
//
// The rule:
//   - "*" matches any run of characters, "/" and "\\" included; "?" matches exactly one
//     character.
//   - A character is a UTF-8 code point: a lead byte together with the continuation bytes
//     it announces, so "?.txt" matches "\xE2\x82\xAC.txt" (one euro sign) and "*" never
//     stops inside a code point. Names from old archives are not always valid UTF-8: any
//     byte that is not part of a code point (a stray continuation byte, say) is a character
//     of its own, so every name still matches itself as a pattern.
//   - ASCII letters compare without regard to case; other characters compare byte for byte.
//   - "/" and "\\" are the same delimiter.
//   - When the last component of the pattern has a dot, the part before its last dot and the
//     part after it are matched separately against the name's part before and after the
//     last dot of its last component (a name without one has an empty extension); an
//     extension pattern of exactly "*" matches any extension, none included. So "*.*"
//     matches every name, and "kernel.*" matches "kernel".
//   - An empty pattern or an empty name matches nothing.
#pragma once

#include <cstddef>
#include <string>

namespace zawild {

namespace detail {

inline int fold(char c) {
  if (c == '\\')
    return '/';
  return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : static_cast<unsigned char>(c);
}

inline bool is_lead(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0xC0; }
inline bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The character that starts at `s`: a lead byte with the continuation bytes it announces
// (as many of them as follow), or any other byte alone.
inline const char *next_char(const char *s, const char *se) {
  unsigned char c = static_cast<unsigned char>(*s++);
  int more = !is_lead(static_cast<char>(c)) ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
  while (more-- > 0 && s < se && is_continuation(*s))
    ++s;
  return s;
}

// Iterative "*" backtracking: on a mismatch the last "*" takes one more character, so
// neither "*" nor "?" ever splits a code point.
inline bool match_part(const char *p, const char *pe, const char *s, const char *se) {
  const char *star = nullptr, *resume = nullptr;
  while (s < se) {
    if (p < pe && *p == '*') {
      star = p++;
      resume = s;
    } else if (p < pe && *p == '?') {
      ++p;
      s = next_char(s, se);
    } else if (p < pe && fold(*p) == fold(*s)) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = resume = next_char(resume, se);
    } else {
      return false;
    }
  }
  while (p < pe && *p == '*')
    ++p;
  return p == pe;
}

inline bool match_part(const std::string &p, size_t p_from, size_t p_to, const std::string &s, size_t s_from,
                       size_t s_to) {
  return match_part(p.data() + p_from, p.data() + p_to, s.data() + s_from, s.data() + s_to);
}

// The last dot of the last component, or npos.
inline size_t last_component_dot(const std::string &s) {
  size_t dot = s.rfind('.');
  size_t delim = s.find_last_of("/\\");
  if (dot == std::string::npos || (delim != std::string::npos && dot < delim))
    return std::string::npos;
  return dot;
}

}  // namespace detail

inline bool match(const std::string &spec, const std::string &name) {
  using detail::match_part;
  if (spec.empty() || name.empty())
    return false;
  size_t sdot = detail::last_component_dot(spec);
  if (sdot == std::string::npos)
    return match_part(spec, 0, spec.size(), name, 0, name.size());
  size_t ndot = detail::last_component_dot(name);
  size_t base_end = ndot == std::string::npos ? name.size() : ndot;
  size_t ext_from = ndot == std::string::npos ? name.size() : ndot + 1;
  if (!match_part(spec, 0, sdot, name, 0, base_end))
    return false;
  if (spec.compare(sdot + 1, std::string::npos, "*") == 0)
    return true;
  return match_part(spec, sdot + 1, spec.size(), name, ext_from, name.size());
}

}  // namespace zawild
