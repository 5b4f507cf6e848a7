// The archive component's message table: every text it shows or reports, by number.
//
// The built-in table (US English, language 0x0409) is carried compressed and decoded on the
// first lookup. Further languages come from a language resource (a sequence of blocks in the
// same form); the program carries none, ZipSetLanguageResource stands in for it.
// All functions may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

// One argument of a formatted message: a number or a text.
using ZipFmtArg = std::variant<long long, std::string>;

// The text of `id`; "Resource missing for <id>" when neither the selected language nor the
// built-in table has it.
std::string ZipLoadStr(int id);

// The text of `id` formatted with `args`. Understands %s, %d, %u, %x, %X (with flags, width
// and precision) and %%; arguments the text does not use are ignored, and a directive with
// no argument left is kept as written, so a message never fails to format.
std::string ZipFmtLoadStr(int id, std::initializer_list<ZipFmtArg> args);
std::string ZipFormat(const std::string &format, const std::vector<ZipFmtArg> &args);

// Selects the message language as the component's Language property does: "US", "us" or
// 1033 give the built-in table; other codes or locale ids are searched in the language
// resource. Returns true when a table other than the built-in one was selected.
bool ZipSetLanguage(const std::string &language);
// "0x" and four hex digits of the active language id ("0x0409" for the built-in table).
std::string ZipLanguageId();
// Stand-in for the program's language resource; an empty vector removes it.
void ZipSetLanguageResource(std::vector<uint8_t> blocks);

// The codec, exposed for tests. Decodes one stored block at `p` (n bytes available);
// `consumed` receives the block's full size. False when the block is short or damaged.
bool ZipDecodeBlock(const uint8_t *p, size_t n, std::vector<uint8_t> &decoded, uint16_t &language,
                    std::string &name, size_t &consumed);
// Looks `id` up in a decoded resource image; "" when it is not there or the image is damaged.
std::string ZipResourceString(const std::vector<uint8_t> &image, int id);

extern const unsigned char zip_builtin_msg_block[];
extern const std::size_t zip_builtin_msg_block_size;
extern const std::size_t zip_builtin_msg_decoded_size;
