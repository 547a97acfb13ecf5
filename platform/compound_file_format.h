// Facts of the compound file format (structured storage, [MS-CFB]): the container of a .xls
// workbook, and the native data of many OLE objects stored in Access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cfb {
constexpr char kSignature[8] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};

// Sector numbers with a meaning of their own.
constexpr uint32_t kFreeSect = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD,
                   kDifSect = 0xFFFFFFFC, kNoStream = 0xFFFFFFFF;
constexpr uint32_t kMiniCutoff = 4096;  // smaller streams live in the mini stream
constexpr size_t kHeaderSize = 512, kEntrySize = 128, kHeaderDifat = 109, kMiniSectorSize = 64;
constexpr size_t kSectorNumberSize = 4;  // a FAT, mini FAT or DIFAT entry

// The header: byte offsets of its fields.
constexpr size_t kHdrMinorVersion = 24, kHdrMajorVersion = 26, kHdrByteOrder = 28, kHdrSectorShift = 30,
                 kHdrMiniSectorShift = 32, kHdrFatSectors = 44, kHdrFirstDirectorySector = 48,
                 kHdrMiniCutoff = 56, kHdrFirstMiniFatSector = 60, kHdrMiniFatSectors = 64,
                 kHdrFirstDifatSector = 68, kHdrDifatSectors = 72, kHdrDifat = 76;
// The values a version 3 file (512-byte sectors) holds there.
constexpr uint16_t kMinorVersion = 0x003E, kMajorVersion3 = 0x0003, kByteOrderLittleEndian = 0xFFFE;
constexpr uint16_t kSectorShift512 = 9, kSectorShift4096 = 12, kMiniSectorShift = 6;

// A directory entry: byte offsets of its fields.
constexpr size_t kDirName = 0, kDirNameLength = 64, kDirType = 66, kDirColor = 67, kDirLeft = 68,
                 kDirRight = 72, kDirChild = 76, kDirStartSector = 116, kDirSize = 120, kDirSizeHigh = 124;
constexpr size_t kDirNameBytes = 64;  // UTF-16 with its terminating zero
constexpr uint8_t kEmpty = 0, kStorage = 1, kStream = 2, kRoot = 5;
constexpr uint8_t kBlack = 1;  // the colour of a red-black tree's node
}  // namespace cfb
