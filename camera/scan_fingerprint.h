#pragma once

#include "base/sha1.h"

#include <cstdint>
#include <string>
#include <vector>

// Content fingerprints of scan folders. Paths are UTF-8; files are opened through their wide form.

std::wstring toWidePath(const std::string& path);

// Digest of a file's whole content; all zero when it cannot be read to its end.
Sha1::Digest sha1OfFile(const std::string& path);
std::string toHex(const uint8_t digest[20]);
std::string sha1HexOfFile(const std::string& path);

// Hexadecimal byte-wise sum (modulo 256, no carry) of the files' digests, so the order of the
// files does not matter; empty text for an empty list.
std::string sha1OfFiles(const std::vector<std::string>& paths);

// folder + prefix + n + suffix for n = 1 .. count, leaving out files that exist but are empty.
// A missing file is listed: its digest counts as zero.
std::vector<std::string> listScanFiles(const std::string& folder, int count, const char* prefix, const char* suffix);

// The lidar files decide; a folder whose lidar files all exist and are empty falls back to its
// lens images; a folder with neither gives the empty text.
std::string scanFingerprint(const std::string& scanFolder, int count);
std::string computeScanHash(const std::string& scanFolder, int count);
