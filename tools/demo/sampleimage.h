// Sample firmware for the demonstration and the end-to-end tests: partitions of random
// bytes, written as an image container and, through Info-ZIP's zip, as a zip image with a
// splash picture.
#pragma once

#include <string>

struct SamplePartitions {
  std::string kernel, splash, boot, root;
};

// Partitions of plausible sizes (a few hundred KiB), the same for the same seed. The sizes
// end inside a block, on a block boundary (the box then gets a last, empty DATA block) and
// past the first thousand blocks.
SamplePartitions make_sample_partitions(unsigned seed);

// Writes a container with root, boot and kernel; false when the file cannot be written.
bool write_sample_container(const std::string &path, const SamplePartitions &parts);

// Writes a zip image holding the four partition files inside a folder, through the `zip`
// program; false when it is missing or fails.
bool write_sample_zip(const std::string &path, const std::string &work_dir, const SamplePartitions &parts);

// An address for the simulated box in the PC's own /24 (the ifconfig command's mask), with
// another last number; "192.168.102.45" when `pc` is not an IPv4 address.
std::string box_address_beside(const char *pc);
