#pragma once

// Scans are processed in buffers of tens of megabytes (lens images, panos, blend pyramids), made
// and dropped on pool threads. By default glibc raises the size from which a block comes straight
// from the system each time such a block is freed, so the later ones come from its heaps and stay
// there once freed: a load of camera-sized scans kept over half a gigabyte it no longer used, and
// the build pass after it started from there. Called once at start, before any thread: every block
// of a megabyte or more goes back to the system when it is freed. Nothing where the C library is
// not glibc.
void returnLargeBlocksToTheSystem();
