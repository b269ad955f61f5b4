// The rescue installer: puts the image records of a download file into flash.
#pragma once

// Walks the records of the file at path: 1 when the walk ended normally, 0 when a failure stopped
// it or when a slot was written but its slot byte could not be stored.  Does not return when the
// operator boots a downloaded application.
int processTavikImage(const char* path);
