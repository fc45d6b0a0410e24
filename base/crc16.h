#pragma once

#include <cstdint>

// CRC-16/X-25 of a buffer, returned with its two bytes exchanged: stored little-endian, the
// CRC's high byte comes first, which is how every calibration block keeps its trailer.
uint16_t computeCrc16(const uint8_t* data, uint32_t length);
