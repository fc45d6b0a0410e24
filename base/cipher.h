#pragma once

#include <QByteArray>

#include <cstdint>

// The enciphered-file envelope: a random 16-byte IV, then the content's whole 16-byte blocks
// AES-128-CBC enciphered, then its last 0 to 15 bytes in plain. No header, padding or checksum:
// a wrong key yields garbage of the right length, not an error.

// Key selectors, one per file kind. Each kind's key is the shared key constant with every byte
// XORed with the kind's selector; changing any of these makes existing files unreadable.
namespace CipherKind {
inline constexpr char Data = char(0x3c);    // project file and its copies, scan data files and images
inline constexpr char Draft = char(0xa5);   // "draft.djs"
inline constexpr char SvgPlan = char(0x5e); // ".qsv" plans in an export
inline constexpr char DxfPlan = char(0xd2); // ".qdx" plans in an export
} // namespace CipherKind

inline constexpr qsizetype kEnvelopeOverhead = 16;

// Replaces `data` (n bytes) with its envelope (n + 16 bytes). Returns true.
bool encipherBytes(QByteArray& data, char selector);

// Writes the envelope of `in` into `out`; `in` is unchanged. Returns true.
bool encipherBytesTo(const QByteArray& in, QByteArray& out, char selector);

// Replaces an envelope (m bytes) with its content (m - 16 bytes). Returns false, leaving `data`
// unchanged, when it is shorter than an IV.
bool decipherBytes(QByteArray& data, char selector);

// Builds a kind's key into `key`. The envelope builds it afresh for every call and wipes it;
// tests use it to drive outside tools with the same key. Callers must wipe `key` after use.
void buildCipherKey(char selector, std::uint8_t key[16]);
