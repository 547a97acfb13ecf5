#include "source/jet/row.h"

#include "platform/little_endian.h"
#include "source/jet_format.h"

unsigned rowCountOfPage(const uint8_t* page, JetVersion version) {
  return le::get16(page + (version == JetVersion::Jet3 ? jetfmt::kDpRowCountJet3 : jetfmt::kDpRowCount));
}

bool rowSlot(const uint8_t* page, uint32_t pageSize, JetVersion version, unsigned row, RowSlot& slot) {
  const uint32_t offsets = version == JetVersion::Jet3 ? jetfmt::kDpRowOffsetsJet3 : jetfmt::kDpRowOffsets;
  if (offsets + 2 * (row + 1) > pageSize) return false;
  const uint16_t raw = le::get16(page + offsets + 2 * row);
  slot.flags = raw & ~jetfmt::kRowOffsetMask;
  slot.start = raw & jetfmt::kRowOffsetMask;
  const unsigned end = row == 0 ? pageSize : (le::get16(page + offsets + 2 * (row - 1)) & jetfmt::kRowOffsetMask);
  if (slot.start < offsets || end > pageSize || end < slot.start) return false;
  slot.length = end - slot.start;
  return true;
}

uint32_t pointedPage(uint32_t pageRow) { return pageRow >> jetfmt::kPointerRowBits; }

bool pointedRow(const uint8_t* page, uint32_t pageSize, JetVersion version, uint32_t pageRow, RowSlot& slot) {
  return page[0] == jetfmt::kPageData && rowSlot(page, pageSize, version, pageRow & jetfmt::kPointerRowMask, slot);
}

namespace {

// The offsets (from the row's start) of the variable-length values and of the end of the
// variable data: `count` + 1 of them. `tail` is the row's length before the null mask.
bool varOffsetsJet4(const uint8_t* row, size_t tail, unsigned count, unsigned headSize, unsigned* offsets) {
  // The count itself, then count + 1 offsets, all after the column count.
  if (tail < headSize + 2 + (size_t{count} + 1) * jetfmt::kRowVarOffsetSize) return false;
  const uint8_t* last = row + tail - 2 - jetfmt::kRowVarOffsetSize;  // the first column's offset
  for (unsigned i = 0; i <= count; ++i) offsets[i] = le::get16(last - i * jetfmt::kRowVarOffsetSize);
  return true;
}

bool varOffsetsJet3(const uint8_t* row, size_t length, size_t tail, unsigned count, unsigned headSize,
                    unsigned* offsets) {
  unsigned jumps = static_cast<unsigned>((length - 1) / jetfmt::kJet3JumpSpan);
  if (tail < headSize + 1 + jumps) return false;
  const size_t countAt = tail - 1;  // the one-byte count; the jump table lies before it
  const size_t firstOffset = countAt - jumps - 1;
  // The last entry is a filler, still in its place, when the offsets all lie one span lower.
  if (jumps > 0 && (firstOffset - count) / jetfmt::kJet3JumpSpan < jumps) --jumps;
  if (firstOffset < size_t{headSize} + count) return false;
  unsigned jumpsUsed = 0;
  for (unsigned i = 0; i <= count; ++i) {
    while (jumpsUsed < jumps && row[countAt - 1 - jumpsUsed] == i) ++jumpsUsed;
    offsets[i] = row[firstOffset - i] + jumpsUsed * jetfmt::kJet3JumpSpan;
  }
  return true;
}

}  // namespace

void crackRow(const TableDefinition& definition, JetVersion version, const uint8_t* page, const RowSlot& slot,
              std::vector<FieldExtent>& fields) {
  const bool jet3 = version == JetVersion::Jet3;
  const uint8_t* row = page + slot.start;
  const size_t length = slot.length;
  const unsigned headSize = jet3 ? jetfmt::kRowColumnCountSizeJet3 : jetfmt::kRowColumnCountSize;
  if (length <= headSize) throw JetDamage("a record's layout is invalid");
  const unsigned rowColumns = jet3 ? row[0] : le::get16(row);
  const size_t maskSize = (size_t{rowColumns} + 7) / 8;
  if (maskSize + headSize >= length) throw JetDamage("a record's layout is invalid");
  const uint8_t* nullMask = row + length - maskSize;
  const size_t tail = length - maskSize;

  unsigned rowVarColumns = 0;
  unsigned offsets[jetfmt::kMaxColumns + 2];
  if (definition.varColumns > 0) {
    rowVarColumns = jet3 ? row[tail - 1] : le::get16(row + tail - 2);
    bool fits = rowVarColumns <= jetfmt::kMaxColumns &&
                (jet3 ? varOffsetsJet3(row, length, tail, rowVarColumns, headSize, offsets)
                      : varOffsetsJet4(row, tail, rowVarColumns, headSize, offsets));
    if (!fits) throw JetDamage("a record's layout is invalid");
  }
  if (rowVarColumns > rowColumns) throw JetDamage("a record's layout is invalid");
  const unsigned rowFixedColumns = rowColumns - rowVarColumns;

  fields.resize(definition.columns.size());
  unsigned fixedFound = 0;
  for (size_t i = 0; i < definition.columns.size(); ++i) {
    const ColumnInfo& c = definition.columns[i];
    FieldExtent& f = fields[i];
    // A column added after the record was written has no bit in its mask: null.
    f.isNull = c.number >= rowColumns || !(nullMask[c.number / 8] & (1u << (c.number % 8)));
    f.start = f.size = 0;
    size_t start = 0, size = 0;
    if (c.fixed && fixedFound < rowFixedColumns) {
      start = size_t{headSize} + c.fixedOffset;
      size = static_cast<size_t>(c.size);
      ++fixedFound;
    } else if (!c.fixed && c.varIndex < rowVarColumns) {
      start = offsets[c.varIndex];
      if (offsets[c.varIndex + 1] < start) throw JetDamage("a record's layout is invalid");
      size = offsets[c.varIndex + 1] - start;
    } else {
      f.isNull = true;
      continue;
    }
    if (start + size > length) throw JetDamage("a record's layout is invalid");
    f.start = slot.start + static_cast<unsigned>(start);
    f.size = static_cast<unsigned>(size);
  }
}
