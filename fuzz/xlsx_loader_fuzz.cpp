// libFuzzer entry point for the .xlsx loader (zip, zip64, every XML part it parses) and the save
// of what it loaded. A failed load is the expected answer to damage; a crash, a sanitizer report,
// a leak, a hang or a book that changed on a failed load is a finding.
#include "fuzz/book_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzbook::roundTrip(data, size, true);
  if (openMemoryFiles() != 0) fuzzbook::finding("the loader left the input open", nullptr);
  return 0;
}
