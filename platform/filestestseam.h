// Test seam of the file copy, for unit tests only: the program never includes this header.
//
// Refusing the kernel's copy makes copy_file_part take its plain loop, as it does on a file
// system that cannot copy inside the kernel, so tests reach that path on any machine.
#pragma once

void files_seam_refuse_kernel_copy(bool refuse);
