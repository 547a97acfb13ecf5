// Without the switches for ready-to-use workbooks, a conversion writes exactly what it wrote
// before they existed: the demo shop's workbooks are compared with digests of ones made by the
// converter of that time (the .xls whole; the .xlsx by the names and bytes of its parts, since
// a zip entry carries the time it was written).
#include <gtest/gtest.h>

#include <cstdlib>

#include "job/conversion_job.h"
#include "tests/job/fixtures.h"

using namespace jobtest;
namespace fs = std::filesystem;

namespace {

const char* const kDigest = R"(
import hashlib, sys, zipfile
with open(sys.argv[1], 'rb') as f:
    data = f.read()
if data[:2] != b'PK':
    print(hashlib.sha256(data).hexdigest(), end='')
else:
    h = hashlib.sha256()
    with zipfile.ZipFile(sys.argv[1]) as z:
        for info in z.infolist():
            h.update(info.filename.encode() + b'\0' + z.read(info) + b'\0')
    print(h.hexdigest(), end='')
)";

struct Reference {
  const char* database;  // extension of the sample made by quarlex-mkdb
  const char* workbook;
  const char* digest;
};

// Made with the converter as it stood before /CELLS, /LAYOUT and /ROWS, LC_ALL=C. The .xls
// digests were taken again when saves began to write the shared-string index (EXTSST) whole;
// every other record stayed the same.
const Reference kReferences[] = {
    {".accdb", ".xls", "b6395c884daaab0e42f7a6ad85b40e6a379e5395e12306fe44650544e0585d71"},
    {".accdb", ".xlsx", "b14369109289a514ce322ced0b75b8ce766ec381a49ae05c29f3f957b6915c9b"},
    {".mdb", ".xls", "b9d3e842792039f9b020919a46876a82848e563caf6bd68373eefa564e7a6049"},
    {".mdb", ".xlsx", "198e5d151e04805513609235879e51dc5f1512773086bc63a4657d356fce0c84"},
};

}  // namespace

TEST(DefaultOutput, ByteForByteAsBeforeTheSwitches) {
  setenv("LC_ALL", "C", 1);
  testsupport::ScratchDir dir;
  for (const Reference& ref : kReferences) {
    fs::path db = dir / (std::string("shop") + ref.database);
    if (!fs::exists(db)) {
      auto r = testsupport::runCommand({QUARLEX_MKDB, "--sample", db.string()});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    ConversionOptions o;
    openInto(&o, db);
    o.bookType = std::string(ref.workbook) == ".xlsx" ? 1 : 0;
    o.outputPath = (dir / (std::string("shop") + ref.database + ref.workbook)).string();
    ASSERT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved);
    EXPECT_EQ(testsupport::runPython(kDigest, {o.outputPath}), ref.digest) << o.outputPath;
  }
}
