#include "zip/zahash.h"

#include <cctype>
#include <algorithm>
#include <iterator>

namespace {

constexpr int kSizes[] = {61,    131,   257,   389,   521,   641,   769,   1031,  1283,  1543,
                          2053,  2579,  3593,  4099,  5147,  6151,  7177,  8209,  10243, 12289,
                          14341, 16411, 18433, 20483, 22521, 24593, 28687, 32771, 40961};

bool same_name(const std::string &a, const std::string &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

uint32_t ZipNameHash(const std::string &name) {
  uint32_t h = 0;
  for (unsigned char raw : name) {
    auto c = static_cast<int8_t>(std::toupper(raw));
    h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(c));
    uint32_t top = h & 0xF0000000u;
    if (top)
      h = (h ^ (top >> 24)) & 0x0FFFFFFFu;
  }
  return h;
}

int ZipHashTableSize(int entries) {
  int size = kSizes[std::size(kSizes) - 1];
  if (entries < 15000) {
    for (int s : kSizes)
      if (s >= entries) {
        size = s;
        break;
      }
  } else {
    for (int s : kSizes)
      if (s < entries)
        size = s;
  }
  if (size < 61)
    size = 61;
  if (size > 40961)
    size = 40961;
  return size;
}

TZipDirHashList::~TZipDirHashList() { Clear(); }

void TZipDirHashList::Clear() {
  while (last_block_) {
    Block *prev = last_block_->prev;
    delete last_block_;
    last_block_ = prev;
  }
  used_in_block_ = kBlockNodes;
  count_ = 0;
  std::fill(buckets_.begin(), buckets_.end(), nullptr);
}

void TZipDirHashList::SetCapacity(int entries) {
  Clear();
  buckets_.assign(static_cast<size_t>(ZipHashTableSize(entries)), nullptr);
}

TZipDirHashList::THashedDirEntry *TZipDirHashList::NewNode() {
  if (used_in_block_ == kBlockNodes) {
    auto block = std::make_unique<Block>();
    block->prev = last_block_;
    last_block_ = block.release();
    used_in_block_ = 0;
  }
  return &last_block_->nodes[used_in_block_++];
}

const ZipDirEntry *TZipDirHashList::Add(const ZipDirEntry *entry) {
  if (buckets_.empty())
    buckets_.assign(1283, nullptr);
  uint32_t h = ZipNameHash(entry->FileName);
  THashedDirEntry **link = &buckets_[h % buckets_.size()];
  for (; *link; link = &(*link)->Next)
    if ((*link)->Hash == h && same_name((*link)->Entry->FileName, entry->FileName))
      return (*link)->Entry;
  THashedDirEntry *node = NewNode();
  node->Next = nullptr;
  node->Entry = entry;
  node->Hash = h;
  *link = node;
  ++count_;
  return entry;
}

const ZipDirEntry *TZipDirHashList::Find(const std::string &name) const {
  if (count_ == 0 || buckets_.empty())
    return nullptr;
  uint32_t h = ZipNameHash(name);
  for (THashedDirEntry *n = buckets_[h % buckets_.size()]; n; n = n->Next)
    if (n->Hash == h && same_name(n->Entry->FileName, name))
      return n->Entry;
  return nullptr;
}
