#include "tests/workbook/read_back.h"

#include <regex>

#include "tests/support/test_support.h"

namespace wbtest {

static const char* kReader = R"PY(
import json, sys
path = sys.argv[1]
out = []
if path.endswith('.xlsx'):
    import openpyxl
    wb = openpyxl.load_workbook(path)
    for ws in wb.worksheets:
        cells = []
        for row in ws.iter_rows():
            for c in row:
                v = c.value
                if v is None:
                    continue
                if c.data_type == 'e':
                    cells.append([c.row - 1, c.column - 1, 'e', str(v)])
                elif isinstance(v, bool):
                    cells.append([c.row - 1, c.column - 1, 'b', 1 if v else 0])
                elif isinstance(v, (int, float)):
                    cells.append([c.row - 1, c.column - 1, 'n', float(v).hex()])
                else:
                    cells.append([c.row - 1, c.column - 1, 's', str(v)])
        out.append({'name': ws.title, 'rows': ws.max_row if cells else 0, 'cells': cells})
else:
    import xlrd
    wb = xlrd.open_workbook(path)
    for ws in wb.sheets():
        cells = []
        for r in range(ws.nrows):
            for c in range(ws.ncols):
                cell = ws.cell(r, c)
                t = cell.ctype
                if t == xlrd.XL_CELL_EMPTY or t == xlrd.XL_CELL_BLANK:
                    continue
                if t == xlrd.XL_CELL_NUMBER:
                    cells.append([r, c, 'n', float(cell.value).hex()])
                elif t == xlrd.XL_CELL_BOOLEAN:
                    cells.append([r, c, 'b', int(cell.value)])
                elif t == xlrd.XL_CELL_ERROR:
                    cells.append([r, c, 'e', xlrd.error_text_from_code[cell.value]])
                else:
                    cells.append([r, c, 's', str(cell.value)])
        out.append({'name': ws.name, 'rows': ws.nrows, 'cells': cells})
sys.stdout.write(json.dumps(out, ensure_ascii=True))
)PY";

std::vector<ReadSheet> readBack(const std::filesystem::path& file) {
  std::string text = testsupport::runPython(kReader, {file.string()});
  std::vector<ReadSheet> sheets;
  if (text.empty()) return sheets;
  for (auto& js : nlohmann::json::parse(text)) {
    ReadSheet s;
    s.name = js["name"].get<std::string>();
    s.rows = js["rows"].get<int>();
    for (auto& c : js["cells"]) {
      ReadCell rc;
      rc.type = c[2].get<std::string>();
      if (rc.type == "n") rc.number = std::strtod(c[3].get<std::string>().c_str(), nullptr);
      else if (rc.type == "b") rc.number = c[3].get<int>();
      else rc.text = c[3].get<std::string>();
      s.cells[{c[0].get<int>(), c[1].get<int>()}] = rc;
    }
    sheets.push_back(std::move(s));
  }
  return sheets;
}

std::string unescapeExcel(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 3])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 4])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 5]))) {
      unsigned v = static_cast<unsigned>(std::stoul(text.substr(i + 2, 4), nullptr, 16));
      if (v < 0x80) {
        out += static_cast<char>(v);
      } else {
        out += static_cast<char>(0xE0 | (v >> 12));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
      }
      i += 6;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace wbtest
