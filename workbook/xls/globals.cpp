#include "workbook/xls/globals.h"

#include "workbook/text.h"
#include "workbook/xls/records.h"
#include "workbook/xls/worksheet.h"

namespace xls {

namespace {

std::string bof(uint16_t kind) {
  std::string b;
  le::add16(b, kBiff8);
  le::add16(b, kind);
  le::add16(b, 0x0DBB);  // build
  le::add16(b, 0x07CC);  // year
  le::add32(b, 0x00000041);
  le::add32(b, 0x00000006);
  return b;
}

std::string u16(uint16_t v) {
  std::string b;
  le::add16(b, v);
  return b;
}

std::string xf(bool style) {
  std::string b;
  le::add16(b, 0);                          // font
  le::add16(b, 0);                          // number format: General
  le::add16(b, style ? 0xFFF5 : 0x0001);    // locked; a style has no parent, a cell format has style 0
  b += '\x20';                          // bottom aligned
  b += '\0';
  b += '\0';
  b += static_cast<char>(style ? 0xF4 : 0x00);
  le::add32(b, 0);
  le::add32(b, 0);
  le::add16(b, 0x20C0);                     // automatic pattern colours
  return b;
}

std::string boundSheetFor(const SavedSheet& s) {
  std::string b;
  if (s.source) {
    b = s.source->boundSheet;
    le::put32(&b[0], s.offset);
    return b;
  }
  le::add32(b, s.offset);
  b += '\0';  // visible
  b += '\0';  // worksheet
  addUnicodeString(b, toUtf16(s.name), false);
  return b;
}

}  // namespace

void startGlobals(Globals& g) {
  auto add = [&](uint16_t t, std::string body) { g.records.push_back({t, std::move(body)}); };
  add(kBof, bof(kBofGlobals));
  add(kInterfaceHdr, u16(1200));
  add(kMms, u16(0));
  add(kInterfaceEnd, "");
  std::string access;
  addUnicodeString(access, u"quarlex", true);
  access.resize(112, ' ');
  add(kWriteAccess, access);
  add(kCodePage, u16(1200));
  add(kDsf, u16(0));
  add(kFnGroupCount, u16(14));
  add(kWindowProtect, u16(0));
  add(kProtect, u16(0));
  add(kPassword, u16(0));
  add(kProt4Rev, u16(0));
  add(kProt4RevPass, u16(0));
  std::string w1;
  for (uint16_t v : {0, 0, 0x4000, 0x2000, 0x0038, 0, 0, 1, 0x0258}) le::add16(w1, v);
  add(kWindow1, w1);
  add(kBackup, u16(0));
  add(kHideObj, u16(0));
  add(kDateMode, u16(0));
  add(kPrecision, u16(1));
  add(kRefreshAll, u16(0));
  add(kBookBool, u16(0));
  for (int i = 0; i < 5; ++i) {
    std::string f;
    for (uint16_t v : {200, 0, 0x7FFF, 400, 0}) le::add16(f, v);
    f.append(4, '\0');
    addUnicodeString(f, u"Arial", false);
    add(kFont, f);
  }
  for (int i = 0; i < 15; ++i) add(kXf, xf(true));
  add(kXf, xf(false));
  std::string style;
  le::add16(style, 0x8000);
  style += '\0';
  style += '\xFF';
  add(kStyle, style);
  add(kUsesElfs, u16(0));
  g.boundSheetAt = g.records.size();
  add(kCountry, std::string("\x01\x00\x01\x00", 4));
  g.sstAt = g.records.size();
  add(kExtSst, u16(8));
  add(kEof, "");
  g.cellXf = kDefaultCellXf;
}

bool readGlobals(Globals& g, std::string& error) {
  std::string_view s = g.stream;
  RecordView r;
  if (!readRecord(s, 0, r) || r.type != kBof || r.body.size() < 4) {
    error = "damaged: the Workbook stream does not start with a BOF record";
    return false;
  }
  if (le::get16(r.body.data()) == kBiff5) {
    error = "Excel 95 workbooks (BIFF5) cannot be extended";
    return false;
  }
  if (le::get16(r.body.data()) != kBiff8 || le::get16(r.body.data() + 2) != kBofGlobals) {
    error = "not a BIFF8 (Excel 97 or later) workbook";
    return false;
  }
  bool sawSst = false, sawEof = false, inSst = false;
  int xfCount = 0;
  size_t extSstAt = SIZE_MAX;
  for (size_t off = 0; !sawEof;) {
    if (!readRecord(s, off, r)) {
      error = "damaged: the workbook globals are cut short";
      return false;
    }
    off += 4 + r.body.size();
    if (inSst && r.type == kContinue) {
      g.sst.loaded.append(s.substr(r.offset, 4 + r.body.size()));
      continue;
    }
    inSst = false;
    switch (r.type) {
      case kFilePass:
        // Every record body after this one is encrypted: nothing can be added without the key.
        error = "the workbook is encrypted";
        return false;
      case kBoundSheet: {
        if (r.body.size() < 8) {
          error = "damaged: the sheet list";
          return false;
        }
        if (g.sources.empty()) g.boundSheetAt = g.records.size();
        SourceSheet src;
        src.boundSheet.assign(r.body);
        src.start = le::get32(r.body.data());
        g.sources.push_back(std::move(src));
        continue;
      }
      case kSst:
        if (sawSst || r.body.size() < 8) {
          error = "damaged: the shared strings";
          return false;
        }
        sawSst = inSst = true;
        g.sstAt = g.records.size();
        g.sst.loaded.assign(s.substr(r.offset, 4 + r.body.size()));
        g.sst.loadedTotal = le::get32(r.body.data());
        continue;
      case kExtSst: extSstAt = g.records.size(); break;
      case kXf: ++xfCount; break;
      case kDateMode: g.date1904 = r.body.size() >= 2 && le::get16(r.body.data()) != 0; break;
      case kEof: sawEof = true; break;
      default: break;
    }
    g.records.push_back({r.type, std::string(r.body)});
  }
  if (g.sources.empty()) {
    error = "damaged: the workbook has no sheets";
    return false;
  }
  if (!sawSst) g.sstAt = extSstAt != SIZE_MAX ? extSstAt : g.records.size() - 1;
  if (sawSst && !readLoadedStrings(g.sst, error)) return false;
  g.cellXf = xfCount > kDefaultCellXf ? kDefaultCellXf : 0;
  for (SourceSheet& src : g.sources)
    if (!scanSheet(s, src, error)) return false;
  g.deleted.assign(g.sources.size(), false);
  return true;
}

void buildGlobals(Globals& g, const std::vector<SavedSheet>& sheets, std::string& before,
                  std::string& after) {
  before.clear();
  after.clear();
  // Where each loaded sheet ends up, or -1 when it was deleted.
  std::vector<int> moved(g.sources.size(), -1);
  int count = static_cast<int>(sheets.size());
  for (int i = 0; i < count; ++i)
    if (sheets[static_cast<size_t>(i)].source)
      moved[static_cast<size_t>(sheets[static_cast<size_t>(i)].source - g.sources.data())] = i;
  auto map = [&](uint16_t tab) -> uint16_t {
    if (tab >= moved.size()) return tab;  // -1, -2 and the like keep their meaning
    return moved[tab] < 0 ? 0xFFFF : static_cast<uint16_t>(moved[tab]);
  };
  bool anyDeleted = false;
  for (bool d : g.deleted) anyDeleted = anyDeleted || d;
  int supBook = -1, internalSupBook = -1, removedNames = 0;
  bool dropContinue = false;
  std::string* out = &before;
  for (size_t i = 0; i <= g.records.size(); ++i) {
    if (i == g.boundSheetAt)
      for (const SavedSheet& sh : sheets) addRecord(*out, kBoundSheet, boundSheetFor(sh));
    if (i == g.sstAt) out = &after;
    if (i == g.records.size()) break;
    const GlobalRecord& rec = g.records[i];
    std::string body = rec.body;
    if (rec.type == kContinue && dropContinue) continue;
    dropContinue = false;
    switch (rec.type) {
      case kExtSst:
        // The index of the string table as laid out for this save.
        body = g.extSst;
        break;
      case kTabId:
        body.clear();
        for (int k = 0; k < count; ++k) le::add16(body, static_cast<uint16_t>(k + 1));
        break;
      case kWindow1:
        if (body.size() >= kWindow1SelectedTabs + 2) {
          if (le::get16(&body[kWindow1ActiveSheet]) >= count) le::put16(&body[kWindow1ActiveSheet], 0);
          if (le::get16(&body[kWindow1FirstTab]) >= count) le::put16(&body[kWindow1FirstTab], 0);
          le::put16(&body[kWindow1SelectedTabs], 1);
        }
        break;
      case kSupBook:
        ++supBook;
        if (body.size() == 4 && le::get16(&body[2]) == 0x0401) {
          internalSupBook = supBook;
          le::put16(&body[0], static_cast<uint16_t>(count));
        }
        break;
      case kExternSheet:
        if (anyDeleted)
          for (size_t k = 2; k + 6 <= body.size(); k += 6)
            if (le::get16(&body[k]) == internalSupBook) {
              le::put16(&body[k + 2], map(le::get16(&body[k + 2])));
              le::put16(&body[k + 4], map(le::get16(&body[k + 4])));
            }
        break;
      case kName:
        if (anyDeleted && body.size() >= 10) {
          uint16_t itab = le::get16(&body[8]);
          if (itab > 0 && itab <= moved.size()) {
            if (moved[itab - 1u] >= 0) {
              le::put16(&body[8], static_cast<uint16_t>(moved[itab - 1u] + 1));
            } else {
              // A name of a deleted sheet: formulas refer to names by position, so a hidden
              // empty name keeps the place of the one that went.
              std::string name = "_DeletedSheetName" + std::to_string(++removedNames);
              body.clear();
              le::add16(body, 0x0001);
              body += '\0';
              body += static_cast<char>(name.size());
              le::add16(body, 0);
              le::add16(body, 0);
              le::add16(body, 0);
              body.append(4, '\0');
              body += '\0';
              body += name;
              dropContinue = true;
            }
          }
        }
        break;
      default: break;
    }
    addRecord(*out, rec.type, body);
  }
}

}  // namespace xls
