// Facts of the compound file format (structured storage, [MS-CFB]): the container of a .xls
// workbook, and the native data of many OLE objects stored in Access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cfb {
constexpr char kSignature[8] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};
constexpr uint32_t kFreeSect = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD,
                   kDifSect = 0xFFFFFFFC, kNoStream = 0xFFFFFFFF;
constexpr uint32_t kMiniCutoff = 4096;
constexpr size_t kHeaderSize = 512, kEntrySize = 128, kHeaderDifat = 109, kMiniSectorSize = 64;
constexpr uint8_t kEmpty = 0, kStorage = 1, kStream = 2, kRoot = 5;
}  // namespace cfb
