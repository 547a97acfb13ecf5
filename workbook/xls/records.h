// BIFF8 records: their numbers, their framing and the fields inside them (little-endian, read
// and written with platform/little_endian.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/little_endian.h"

namespace xls {

// Record numbers used here.
enum RecordType : uint16_t {
  kFormula = 0x0006, kEof = 0x000A, kFilePass = 0x002F, kCalcCount = 0x000C, kCalcMode = 0x000D, kPrecision = 0x000E,
  kRefMode = 0x000F, kDelta = 0x0010, kIteration = 0x0011, kProtect = 0x0012, kPassword = 0x0013,
  kHeader = 0x0014, kFooter = 0x0015, kExternSheet = 0x0017, kName = 0x0018, kWindowProtect = 0x0019,
  kDateMode = 0x0022, kPrintHeaders = 0x002A, kPrintGridlines = 0x002B, kFont = 0x0031,
  kContinue = 0x003C, kWindow1 = 0x003D, kBackup = 0x0040, kCodePage = 0x0042,
  kDefColWidth = 0x0055, kWriteAccess = 0x005C, kSaveRecalc = 0x005F, kObjProtect = 0x0063,
  kBoundSheet = 0x0085, kCountry = 0x008C, kHideObj = 0x008D, kPalette = 0x0092, kGridSet = 0x0082,
  kWsBool = 0x0081, kGuts = 0x0080, kMulRk = 0x00BD, kMulBlank = 0x00BE, kRString = 0x00D6,
  kDbCell = 0x00D7, kBookBool = 0x00DA, kXf = 0x00E0, kInterfaceHdr = 0x00E1, kInterfaceEnd = 0x00E2,
  kMergeCells = 0x00E5, kSst = 0x00FC, kLabelSst = 0x00FD, kExtSst = 0x00FF, kUsesElfs = 0x0160,
  kDsf = 0x0161, kTabId = 0x013D, kRefreshAll = 0x01B7, kProt4Rev = 0x01AF, kProt4RevPass = 0x01BC,
  kDimensions = 0x0200, kBlank = 0x0201, kNumber = 0x0203, kLabel = 0x0204, kBoolErr = 0x0205,
  kString = 0x0207, kRow = 0x0208, kIndex = 0x020B, kArray = 0x0221, kDefaultRowHeight = 0x0225,
  kTable = 0x0236, kWindow2 = 0x023E, kRk = 0x027E, kStyle = 0x0293, kFormat = 0x041E,
  kShrFmla = 0x04BC, kBof = 0x0809, kMms = 0x00C1, kFnGroupCount = 0x009C,
  kSupBook = 0x01AE, kPane = 0x0041, kSelection = 0x001D, kColInfo = 0x007D, kAutoFilterInfo = 0x009D,
  kRecalcId = 0x01C1, kHLink = 0x01B8, kDVal = 0x01B2, kCodeName = 0x01BA, kSheetExt = 0x0862,
};

// HLINK: the link object's class, the monikers of its target, and its flags.
constexpr unsigned char kHLinkClsid[16] = {0xD0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                           0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
constexpr unsigned char kUrlMonikerClsid[16] = {0xE0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                                0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
constexpr unsigned char kFileMonikerClsid[16] = {0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHLinkStreamVersion = 2;
constexpr uint32_t kHLinkHasMoniker = 0x01, kHLinkIsAbsolute = 0x02, kHLinkHasLocation = 0x08;
constexpr uint32_t kHLinkHasDisplayName = 0x10, kHLinkHasFrameName = 0x80, kHLinkMonikerAsString = 0x100;
constexpr size_t kHLinkFlagsOffset = 28;  // after the cell range, the class and the stream version
constexpr uint16_t kFileMonikerEndServer = 0xFFFF, kFileMonikerVersion = 0xDEAD;
constexpr size_t kFileMonikerReserved = 20;      // reserved1 (16 bytes) and reserved2 (4 bytes)
constexpr uint16_t kFileMonikerUnicodeKey = 3;

// Cell formats (XF), fonts and number formats.
constexpr uint16_t kFontBoldWeight = 700;        // FONT bls
constexpr size_t kFontWeightOffset = 6;
constexpr size_t kFontColourOffset = 4;            // FONT icv
constexpr size_t kFontUnderlineOffset = 10;        // FONT uls
constexpr uint16_t kFontLinkColour = 0x000C;       // palette blue, Excel's hyperlink colour in BIFF8
constexpr uint8_t kFontSingleUnderline = 0x01;
constexpr uint16_t kSkippedFontIndex = 4;        // font indices skip 4: the fifth FONT is index 5
constexpr uint16_t kFirstCustomFormat = 164;     // FORMAT ifmt values below are Excel's own
constexpr uint16_t kXfLockedCellOfStyle0 = 0x0001;  // a cell format, locked, parent style XF 0
constexpr uint8_t kXfBottomAligned = 0x20;
constexpr uint8_t kXfUsesNumberAndFont = 0x0C;   // fAtrNum | fAtrFnt: not the parent style's
constexpr uint16_t kXfPatternColours = 0x20C0;   // automatic pattern colours

// Sheet views, columns and filters.
constexpr uint16_t kWindow2Frozen = 0x0008, kWindow2FrozenNoSplit = 0x0100;
// WINDOW1: offsets of the active sheet, the first sheet tab shown and the selected tabs' count.
constexpr size_t kWindow1ActiveSheet = 10, kWindow1FirstTab = 12, kWindow1SelectedTabs = 14;
constexpr uint8_t kPaneBottomRight = 0, kPaneTopRight = 1, kPaneBottomLeft = 2;
constexpr uint16_t kColInfoUserSet = 0x0002;
constexpr uint16_t kDefaultColumnWidth = 8;      // DEFCOLWIDTH, in characters
constexpr unsigned kColumnWidthUnit = 256;       // COLINFO widths in 1/256 of a character

// References between sheets and defined names.
constexpr uint16_t kSupBookSelf = 0x0401;        // SUPBOOK of the book's own sheets
constexpr uint16_t kNameHiddenBuiltin = 0x0021;  // NAME fHidden | fBuiltin
constexpr uint8_t kBuiltinFilterDatabase = 0x0D; // the built-in name _FilterDatabase
constexpr uint8_t kPtgArea3d = 0x3B;

constexpr uint16_t kBiff8 = 0x0600, kBiff5 = 0x0500;
// BOF record numbers of the BIFF versions before BIFF5 (2, 3 and 4).
constexpr uint16_t kBof2 = 0x0009, kBof3 = 0x0209, kBof4 = 0x0409;
constexpr uint16_t kBofGlobals = 0x0005, kBofWorksheet = 0x0010;
constexpr uint8_t kWsBoolDialog = 0x10;  // WSBOOL: the sheet is a dialog sheet
constexpr size_t kMaxRecordData = 8224;  // longest record body; longer data goes on in CONTINUE
constexpr uint16_t kDefaultCellXf = 15;  // the first cell format after the 15 style formats
constexpr uint8_t kErrorNum = 0x24;      // #NUM!

void addDouble(std::string& s, double v);

// Appends a whole record (header and body) to out.
void addRecord(std::string& out, uint16_t type, std::string_view body);

// A record read from a stream: its type, its body and where its header starts.
struct RecordView {
  uint16_t type = 0;
  std::string_view body;
  size_t offset = 0;
};
// Reads the record at offset; false at the end of the data or for a record cut short.
bool readRecord(std::string_view stream, size_t offset, RecordView& r);

// A BIFF8 unicode string with a 16-bit (long) or 8-bit (short) character count, no rich text.
void addUnicodeString(std::string& out, const std::u16string& text, bool longCount);

}  // namespace xls
