// libFuzzer entry point for the .xls loader (compound file, BIFF records, the shared-string
// table) and the save of what it loaded; findings as for the .xlsx loader.
#include "fuzz/book_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzbook::roundTrip(data, size, false);
  if (openMemoryFiles() != 0) fuzzbook::finding("the loader left the input open", nullptr);
  return 0;
}
