// OLE objects as an Access "OLE Object" field stores them: Access's own header, then an OLE 1.0
// object ([MS-OLEDS] 2.2) whose native data is the object's content; the Packager's native data
// wraps an embedded file with its name. Offsets in bytes, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace olefmt {

// Access's header: u16 signature, u16 header length, u32 object kind, u16 name length, u16 class
// length, u16 name offset, u16 class offset, u32 object size; the texts follow.
constexpr uint16_t kAccessSignature = 0x1C15;
constexpr size_t kAccessHeaderLength = 2;  // u16 at this offset
constexpr size_t kAccessNameLength = 8;    // u16; the name is the object's kind as Access shows it
constexpr size_t kAccessNameOffset = 12;   // u16
constexpr size_t kAccessClassLength = 10;  // u16
constexpr size_t kAccessClassOffset = 14;  // u16
constexpr size_t kAccessFixedSize = 20;

// OLE 1.0 object header: u32 version, u32 format, then length-prefixed ANSI texts (class, topic,
// item); an embedded object's native data follows as u32 size and the bytes.
constexpr uint32_t kFormatLinked = 1;
constexpr uint32_t kFormatEmbedded = 2;

// The Packager's native data: u16 signature, the file's name and its source path (ANSI, each
// ended by NUL), u32 kind; an embedded file then has u32 length + its temporary path, u32 size
// and the file's bytes, and may end with the three paths again in UTF-16 (u32 count of units
// each): temporary path, file name, source path.
constexpr const char* kPackageClass = "Package";
constexpr uint16_t kPackageSignature = 2;
constexpr uint32_t kPackageEmbeddedFile = 0x00030000;
constexpr uint32_t kPackageLinkedFile = 0x00010000;

}  // namespace olefmt
