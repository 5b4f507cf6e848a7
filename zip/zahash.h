// ZipDirEntry, one entry of an archive's central directory, and TZipDirHashList, the name
// index over them: a bucket table whose size follows the entry count, chains of nodes carved
// from blocks of 511, case-insensitive names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ZipDirEntry {
  // The 42 bytes of the central header after its signature, in the archive's order.
  uint8_t MadeByVersion = 0;
  uint8_t HostSystem = 0;
  uint16_t NeededVersion = 0;
  uint16_t Flags = 0;
  uint16_t CompressionMethod = 0;
  uint16_t ModTime = 0;
  uint16_t ModDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
  uint16_t CommentLength = 0;
  uint16_t StartDisk = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;
  std::string FileName;     // converted, "/" turned into "\\"
  std::string FileComment;  // converted
  bool Encrypted = false;
  std::string ExtraData;  // the raw extra field
};

// The hash of a name: over its upper-cased bytes, each taken as a signed 8-bit value.
uint32_t ZipNameHash(const std::string &name);

// The bucket count for `entries` entries.
int ZipHashTableSize(int entries);

// Non-owning index: the entries belong to the worker's ZipContents and must outlive their
// nodes (the worker clears the index before freeing the entries).
class TZipDirHashList {
 public:
  TZipDirHashList() = default;
  TZipDirHashList(const TZipDirHashList &) = delete;
  TZipDirHashList &operator=(const TZipDirHashList &) = delete;
  ~TZipDirHashList();

  // Drops every node and sizes the bucket table for `entries`.
  void SetCapacity(int entries);
  // Adds `entry` under its FileName unless a name equal ignoring case is there already;
  // returns the entry that is in the index for that name.
  const ZipDirEntry *Add(const ZipDirEntry *entry);
  // The entry whose name equals `name` ignoring case, or null.
  const ZipDirEntry *Find(const std::string &name) const;
  void Clear();

  int BucketCount() const { return static_cast<int>(buckets_.size()); }
  bool Empty() const { return count_ == 0; }

 private:
  struct THashedDirEntry {
    THashedDirEntry *Next;
    const ::ZipDirEntry *Entry;
    uint32_t Hash;
  };
  static constexpr int kBlockNodes = 511;
  // A block of nodes; `prev` links to the block allocated before it.
  struct Block {
    THashedDirEntry nodes[kBlockNodes];
    Block *prev;
  };
  THashedDirEntry *NewNode();

  std::vector<THashedDirEntry *> buckets_;
  Block *last_block_ = nullptr;
  int used_in_block_ = kBlockNodes;
  int count_ = 0;
};
