// Sample firmware for the demonstration: partitions of random bytes, written as an image
// container and, where Info-ZIP's zip is installed, as a zip image with a splash picture.
#pragma once

#include <string>

struct SamplePartitions {
  std::string kernel, splash, boot, root;
};

// Partitions of plausible sizes (a few hundred KiB), the same for the same seed.
SamplePartitions make_sample_partitions(unsigned seed);

// Writes a container with root, boot and kernel; false when the file cannot be written.
bool write_sample_container(const std::string &path, const SamplePartitions &parts);

// Writes a zip image holding the four partition files inside a folder, through the `zip`
// program; false when it is missing or fails.
bool write_sample_zip(const std::string &path, const std::string &work_dir, const SamplePartitions &parts);
