// Every fact of the Jet3, Jet4 and ACE file layouts that our code uses, in one place: the engine
// reads by it, the decryption finds the header fields by it, and the test-database writer
// (tools/accesswriter) writes by it. Jet4 and ACE (2007 and later) share the page layout and differ
// in the header; Jet3 (Access 97) has 2 KiB pages and narrower records where noted.
#pragma once

#include <cstdint>

namespace jetfmt {


constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kMaxPages = (1u << 31) / kPageSize;  // the engine's 2 GiB limit

// Page types (first byte of every page).
constexpr uint8_t kPageHeader = 0x00;
constexpr uint8_t kPageData = 0x01;
constexpr uint8_t kPageTableDef = 0x02;
constexpr uint8_t kPageUsageBitmap = 0x05;

// ---- Page 0: the database header ----
constexpr uint32_t kHdrMagic = 0x01;          // byte 1 is 0x01
constexpr uint32_t kHdrEngineName = 0x04;     // "Standard Jet DB\0" or "Standard ACE DB\0"
// The engine's name, plain in every Jet and ACE file, encrypted ones included.
constexpr char kEngineNameJet[] = "Standard Jet DB";
constexpr char kEngineNameAce[] = "Standard ACE DB";
constexpr uint32_t kEngineNameLength = 15;
constexpr uint32_t kHdrVersion = 0x14;
constexpr uint8_t kVersionJet4 = 0x01;
constexpr uint8_t kVersionAce12 = 0x02;       // Access 2007
constexpr uint8_t kVersionAce16 = 0x05;       // Access 2016
// Bytes [kHdrRc4Start, kHdrRc4Start + kHdrRc4Length) are RC4-encoded with kHdrRc4Key.
constexpr uint32_t kHdrRc4Start = 0x18;
constexpr uint32_t kHdrRc4Length = 128;
constexpr uint8_t kHdrRc4Key[4] = {0xC7, 0xDA, 0x39, 0x6B};
// Inside the encoded area (offsets from the page start):
constexpr uint32_t kHdrCodePage = 0x3C;       // u16
constexpr uint16_t kCodePage1252 = 1252;
constexpr uint32_t kHdrDbKey = 0x3E;          // u32; non-zero means every page is RC4-encoded
constexpr uint32_t kHdrPassword = 0x42;       // 20 UTF-16 units, XOR-masked with the date
constexpr uint32_t kHdrPasswordBytes = 40;
constexpr uint32_t kHdrLangId = 0x6E;         // u16 sort order / language
constexpr uint16_t kLangGeneral = 0x0409;
constexpr uint32_t kHdrCreationDate = 0x72;   // double; its whole part, as i32, is the mask

// ---- Data pages (also long-value and usage-map holder pages) ----
constexpr uint32_t kDpFreeSpace = 0x02;       // u16
constexpr uint32_t kDpOwner = 0x04;           // u32 table-definition page, or "LVAL" tag
constexpr uint32_t kDpRowCount = 0x0C;        // u16
constexpr uint32_t kDpRowOffsets = 0x0E;      // u16 per row; rows are packed from the page end
constexpr uint32_t kDpHeaderSize = kDpRowOffsets;
constexpr uint32_t kMaxRowsPerPage = 255;     // a row pointer keeps the row number in one byte
constexpr uint32_t kMaxRowSize = kPageSize - kDpHeaderSize - 2;
constexpr uint8_t kLvalTag[4] = {'L', 'V', 'A', 'L'};

// ---- Table-definition pages ----
constexpr uint32_t kTdFreeSpace = 0x02;       // u16
constexpr uint32_t kTdNextPage = 0x04;        // u32 continuation page, 0 at the last
constexpr uint32_t kTdLength = 0x08;          // u32 bytes of definition after the first 8
constexpr uint32_t kTdContinuationData = 8;   // continuation pages carry data from byte 8
constexpr uint32_t kTdRowCount = 0x10;        // u32
constexpr uint32_t kTdAutoNumber = 0x14;      // u32 next autonumber
constexpr uint32_t kTdTableType = 0x28;       // u8
constexpr uint8_t kTableTypeUser = 0x4E;
constexpr uint8_t kTableTypeSystem = 0x53;
constexpr uint32_t kTdMaxColumns = 0x29;      // u16
constexpr uint32_t kTdVarColumns = 0x2B;      // u16
constexpr uint32_t kTdColumns = 0x2D;         // u16
constexpr uint32_t kTdIndexes = 0x2F;         // u32
constexpr uint32_t kTdRealIndexes = 0x33;     // u32
constexpr uint32_t kTdUsageMap = 0x37;        // u32 page/row of the used-pages map
constexpr uint32_t kTdFreeMap = 0x3B;         // u32 page/row of the free-space map
constexpr uint32_t kTdColumnsStart = 0x3F;
constexpr uint16_t kTdEnd = 0xFFFF;           // ends the (empty) long-value column list

// Column descriptor, kColEntrySize bytes each, then the names (u16 byte length + UTF-16LE).
constexpr uint32_t kColEntrySize = 25;
constexpr uint32_t kColType = 0;              // u8
constexpr uint32_t kColNumber = 5;            // u16
constexpr uint32_t kColVarIndex = 7;          // u16
constexpr uint32_t kColRowNumber = 9;         // u16
constexpr uint32_t kColSortOrder = 11;        // u16 for text and memo
constexpr uint32_t kColPrecision = 11;        // u8 for decimal
constexpr uint32_t kColScale = 12;            // u8 for decimal
constexpr uint32_t kColFlags = 15;            // u8
constexpr uint32_t kColExtFlags = 16;         // u8
constexpr uint32_t kColFixedOffset = 21;      // u16
constexpr uint32_t kColLength = 23;           // u16 bytes
constexpr uint8_t kColFlagFixed = 0x01;
constexpr uint8_t kColFlagNullable = 0x02;
constexpr uint8_t kColFlagUpdatable = 0x10;
constexpr uint8_t kColFlagHyperlink = 0x80;    // on a memo: the values are hyperlinks
constexpr uint8_t kColExtCompressedUnicode = 0x01;
constexpr uint32_t kMaxColumns = 255;

// Column type codes.
constexpr uint8_t kTypeBoolean = 0x01;
constexpr uint8_t kTypeByte = 0x02;
constexpr uint8_t kTypeInteger = 0x03;
constexpr uint8_t kTypeLong = 0x04;
constexpr uint8_t kTypeCurrency = 0x05;
constexpr uint8_t kTypeSingle = 0x06;
constexpr uint8_t kTypeDouble = 0x07;
constexpr uint8_t kTypeDateTime = 0x08;
constexpr uint8_t kTypeBinary = 0x09;
constexpr uint8_t kTypeText = 0x0A;
constexpr uint8_t kTypeOle = 0x0B;
constexpr uint8_t kTypeMemo = 0x0C;
constexpr uint8_t kTypeGuid = 0x0F;
constexpr uint8_t kTypeNumeric = 0x10;
constexpr uint8_t kTypeBigInt = 0x13;
constexpr uint32_t kNumericSize = 17;         // sign byte, then four u32 words, high word first
constexpr uint8_t kNumericNegative = 0x80;    // of the sign byte
constexpr uint32_t kNumericSign = 0, kNumericWord3 = 1, kNumericWord2 = 5, kNumericWord1 = 9,
                   kNumericWord0 = 13;        // offsets; word 3, above 96 bits, is always 0
constexpr int kNumericLargestScale = 28;      // a decimal's digits after the point, at most

// ---- Rows ----
// u16 column count, fixed data, variable data, then from the end: null mask (bit set = not
// null; a Yes/No value is its bit), u16 variable-column count, u16 offsets of the variable
// columns in order (first one nearest the count), and the end-of-variable-data offset before them.

// ---- Long values (memo, OLE): a 12-byte reference in the row ----
constexpr uint32_t kLvRefSize = 12;           // u24 length, u8 kind, u32 page/row, u32 unused
constexpr uint8_t kLvInline = 0x80;           // the data follows the reference in the row
constexpr uint8_t kLvSinglePage = 0x40;       // one row on a long-value page holds it all
constexpr uint8_t kLvMultiPage = 0x00;        // chain of rows: u32 next page/row, then data
constexpr uint32_t kLvMaxLength = 0xFFFFFF;
constexpr uint32_t kLvInlineLimit = 1024;     // longer values always leave the row
constexpr uint32_t kLvNextSize = 4;           // a chained row's u32 next page/row, before its data
constexpr uint32_t kLvChunkData = kMaxRowSize - kLvNextSize;

// ---- Usage maps (rows on a holder page) ----
// The first byte is the kind. An inline map names the page of its first bit; a reference map
// names bitmap pages, each of which has a bit for each of the next (page size - 4) * 8 pages.
constexpr uint8_t kMapInline = 0x00;          // u32 first page, then a bitmap
constexpr uint8_t kMapReference = 0x01;       // u32 per bitmap page (0 for none)
constexpr uint32_t kMapFirstPage = 1;         // inline: the u32 first page
constexpr uint32_t kMapInlineBits = 5;        // inline: the bitmap
constexpr uint32_t kMapPageList = 1;          // reference: the u32 bitmap pages
constexpr uint32_t kMapInlineMaxBytes = 512;  // wider spans use the reference kind
constexpr uint32_t kMapBitmapStart = 4;       // bitmap offset on a usage bitmap page
constexpr uint32_t kPagesPerBitmapPage = (kPageSize - kMapBitmapStart) * 8;

// ---- The catalog ----
constexpr uint32_t kCatalogPage = 2;          // MSysObjects' definition is always page 2
constexpr uint32_t kCatalogIdMask = 0x00FFFFFF;  // an object's Id is its definition page
constexpr int32_t kObjectTable = 1;
constexpr int32_t kObjectContainer = 3;
constexpr int32_t kObjectOdbcTable = 4;         // a table of an ODBC source
constexpr int32_t kObjectQuery = 5;             // a saved query; its definition is in MSysQueries
constexpr int32_t kObjectLinkedTable = 6;       // a table of another file (Access, Excel, text...)
// A link's Connect text names the kind of file before its first ';': nothing, or this, for Access.
constexpr const char* kAccessConnectKind = "MS Access";
constexpr uint32_t kFlagSystemObject = 0x80000000;
constexpr uint32_t kFlagHiddenObject = 0x00000002;
constexpr int32_t kObjectTypeMask = 0x7F;       // of MSysObjects.Type; the high bits mark linked kinds
constexpr uint32_t kContainerTablesId = 0x0F000001;
constexpr uint32_t kContainerRootId = 0x0F000000;


// ---- Versions (header byte kHdrVersion) ----
constexpr uint8_t kVersionJet3 = 0x00;
constexpr uint8_t kVersionAce14 = 0x03;       // Access 2010
constexpr uint8_t kVersionAce17 = 0x06;       // Access 2019 and later; the last one we know
constexpr uint32_t kJet3PageSize = 2048;
constexpr uint32_t kHdrRc4LengthJet3 = 126;
constexpr uint32_t kHdrJet3PasswordBytes = 20;  // Jet3: single-byte characters, unmasked
constexpr uint32_t kHdrEncryptionInfo = 0x299;  // ACE: u16 length, then the encryption provider's bytes

// ---- Data pages, Jet3 ----
constexpr uint32_t kDpRowCountJet3 = 0x08;    // u16; the row offsets follow it
constexpr uint32_t kDpRowOffsetsJet3 = 0x0A;

// Each row offset keeps the row's start in its low bits and two flags above them. The end of a
// row is the start of the row before it (the page end for row 0).
constexpr uint16_t kRowOffsetMask = 0x1FFF;
constexpr uint16_t kRowNotARecord = 0x8000;   // deleted, or the moved data of an overflowed record
constexpr uint16_t kRowOverflow = 0x4000;     // a pointer to where the record's data now lives
// An overflow pointer row: the row number, then the page as a 24-bit number.
constexpr uint32_t kOverflowRow = 0;
constexpr uint32_t kOverflowPage = 1;
constexpr uint32_t kOverflowPointerSize = 4;

// ---- Column descriptors: the extended flags (ACE) ----
constexpr uint32_t kColComplexId = 11;        // u32 for complex columns: their MSysComplexColumns ComplexID
constexpr uint8_t kColExtCalculated = 0xC0;   // the column holds an expression's stored result
constexpr uint8_t kColExtComplexKey = 0x08;   // in a complex column's value table: the owning record's key
constexpr uint8_t kColExtComplexId = 0x04;    // in a complex column's value table: each value's own number
constexpr uint8_t kColFlagAutoNumber = 0x04;

// More column type codes.
constexpr uint8_t kTypeComplex = 0x12;        // u32 key into the column's value table
constexpr uint8_t kTypeDateTimeExtended = 0x14;
constexpr uint32_t kComplexKeySize = 4;

// ---- A calculated column's stored value ----
// A header, the result's length, then the result in its type's usual layout (a Yes/No result is
// one byte, non-zero for Yes, not a bit of the null mask).
constexpr uint32_t kCalcLength = 16;          // u32
constexpr uint32_t kCalcData = 20;
constexpr uint32_t kCalcWrapperSize = 23;     // the header, the length and 3 bytes after the result
constexpr uint32_t kCalcFixedColumnLength = 39;  // the stated size of a column of a fixed-size result
// A calculated Decimal result: u16 length, scale byte, sign byte, then the magnitude as 32- and
// 64-bit little-endian words, most significant first (a leading 32-bit word when the byte count
// is not a multiple of 8).
constexpr uint32_t kCalcDecimalScale = 2;
constexpr uint32_t kCalcDecimalSign = 3;
constexpr uint32_t kCalcDecimalMagnitude = 4;

// ---- A Date/Time Extended value: 42 ASCII bytes ----
// Days since 0001-01-01 (19 digits), a separator, then the time of day in units of 100 ns
// (19 digits), a separator and a precision digit.
constexpr uint32_t kExtDateSize = 42;
constexpr uint32_t kExtDateDays = 0;
constexpr uint32_t kExtDateTicks = 20;
constexpr uint32_t kExtDateDigits = 19;
constexpr uint64_t kTicksPerSecond = 10000000;

// ---- Long values (memo, OLE) ----
constexpr uint32_t kLvLengthMask = 0x3FFFFFFF;  // of the reference's first u32; the top bits are the kind
constexpr uint32_t kLvPageRow = 4;            // u32 page/row pointer
// A page/row pointer (of a long value, a chained row, a usage map): page << 8 | row.
constexpr uint32_t kPointerRowBits = 8;
constexpr uint32_t kPointerRowMask = 0xFF;
constexpr uint8_t kLvKindMask = 0xC0;         // of byte 3

// ---- Table definitions as the reader walks them ----
constexpr uint32_t kTdRealIndexEntrySize = 12;  // Jet4 and ACE
// Jet3 keeps the same fields at other offsets, with smaller entries and one-byte name lengths.
constexpr uint32_t kTdRowCountJet3 = 0x0C;      // u32
constexpr uint32_t kTdVarColumnsJet3 = 0x17;    // u16
constexpr uint32_t kTdColumnsJet3 = 0x19;       // u16
constexpr uint32_t kTdIndexesJet3 = 0x1B;       // u32
constexpr uint32_t kTdRealIndexesJet3 = 0x1F;   // u32
constexpr uint32_t kTdUsageMapJet3 = 0x23;      // u32 page/row
constexpr uint32_t kTdColumnsStartJet3 = 0x2B;
constexpr uint32_t kTdRealIndexEntrySizeJet3 = 8;
constexpr uint32_t kColEntrySizeJet3 = 18;
constexpr uint32_t kColNumberJet3 = 1;          // u16
constexpr uint32_t kColVarIndexJet3 = 3;        // u16
constexpr uint32_t kColScaleJet3 = 12;          // u8
constexpr uint32_t kColFlagsJet3 = 13;          // u8
constexpr uint32_t kColFixedOffsetJet3 = 14;    // u16
constexpr uint32_t kColLengthJet3 = 16;         // u16
constexpr uint32_t kColNameLengthSize = 2;      // u16 before each name (Jet3: one byte)
constexpr uint32_t kColNameLengthSizeJet3 = 1;

// ---- Rows, as the reader cracks them ----
// Jet4 and ACE: the u16 column count, the fixed data, the variable data; then, read from the
// end, the null mask, the u16 variable-column count, the u16 offset of each variable column (the
// first nearest the count) and the offset where the variable data ends.
// Jet3: the same with one-byte counts and offsets. One byte reaches 256 bytes only, so a jump
// table between the offsets and the count lists the columns from which on every offset lies a
// further 256 bytes on; a row has (length - 1) / 256 entries, the last one possibly unused.
constexpr uint32_t kRowColumnCountSize = 2;
constexpr uint32_t kRowColumnCountSizeJet3 = 1;
constexpr uint32_t kRowVarOffsetSize = 2;
constexpr uint32_t kJet3JumpSpan = 256;         // each jump adds this to the offsets after it

// ---- Attachment files as an attachment field's FileData holds them ----
// A wrapper (u32 kind, u32 length of the content), then the content, deflated in zlib's format
// for the compressed kind: a header (u32 its own length, then the file's extension) and the file.
constexpr uint32_t kAttachmentRaw = 0;
constexpr uint32_t kAttachmentCompressed = 1;
constexpr size_t kAttachmentWrapperSize = 8;
constexpr size_t kAttachmentContentLength = 4;    // u32 in the wrapper
constexpr size_t kAttachmentHeaderLengthSize = 4; // u32 at the content's start

}  // namespace jetfmt
