// The partition files of an upgrade and the unpacker of the ".nfi" image container.
//
// A container is the magic "KXB", a zero byte, a header word (not interpreted), a flags word
// (only its last byte counts: 0x08 root, 0x04 boot, 0x02 kernel) and then, in the order root,
// boot, kernel, one record per set flag: bytes A0 50 30 A0, a big-endian 32-bit length and
// that many bytes of partition data.
//
// Every function writes its failures to the log at ERROR and returns 0; success returns 1.
// They run on the GUI thread at Start, before the worker exists; nothing here is shared.
#pragma once

#include <array>
#include <cstdio>
#include <string>

constexpr int IMAGE_FILE_COUNT = 4;

// File names inside the temporary folder, indexed as the upgrade steps use them:
// 0 kernel, 1 splash picture (zip images only), 2 boot file system, 3 root file system.
// The boot loader's flash commands name these files, so they never change.
extern const char *const image_file_names[IMAGE_FILE_COUNT];

// Full paths of the partition files: temp_dir_path() + "/" + image_file_names[i]. Built on
// every call, so a changed XDG_CACHE_HOME (tests) is followed.
std::array<std::string, IMAGE_FILE_COUNT> image_files();

// Unpacks the container at `path` into image_files()[3], [2] and [0] (as its flags say).
// The temporary folder must exist and be ours (it is opened once, never through a link in
// its place); `path` must be a regular file (a FIFO or device is refused unread). Files
// written before a failure stay; a partition file that could not be written whole is
// removed, so a damaged partition is never flashed.
int unpack_nfi(const char *path);

// Reads one partition record at the current position of `image` and writes its data to
// `target`, created afresh: a file or link already there is replaced, never written
// through, and anything else there (a folder, a device) makes the call fail. Afterwards
// `image` stands at the start of the next record. Fails, removing `target` again, when the
// image ends before the stated length or a write fails (disk full); fails without creating
// `target` on a bad record magic. Does not close `image`; the caller keeps owning it.
int write_file(FILE *image, const char *target);

// What an image file holds, told by its own bytes rather than by its name.
enum class ImageKind { zip_archive, container, unknown };

// Reads `image` from its start: a zip local header "PK\x03\x04", or an end record
// "PK\x05\x06" (an empty archive), is a zip archive; so is a self-extractor, a stub followed
// by an archive whose end record lies in the last 64 KiB and names a central directory; the
// magic "KXB" is a container. Anything else, an empty file too, is unknown.
ImageKind image_kind(FILE *image);

// The checks of the chosen image before anything is extracted. Returns true and the kind
// when `path` is a regular file (a link to one is fine) of a known kind; otherwise false and
// a sentence for the user naming the path, such as "The image /x is not a regular file.".
// A FIFO or device is never opened for reading, so the check cannot block.
bool identify_image(const std::string &path, ImageKind &kind, std::string &refusal);
