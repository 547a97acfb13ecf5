// The databases quarlex-mkdb writes.
#pragma once

#include <cstdint>
#include <filesystem>

#include "tools/accesswriter/access_writer.h"

namespace mkdb {

// .mdb gives Jet4; .accdb (and the other Access extensions) give Ace16.
accesswriter::Format formatFor(const std::filesystem::path& path);

// The demo shop (customers, products, orders, order lines, and a "MSysNotes" user table),
// and its field caption file beside it (extension replaced by "ini").
accesswriter::Summary writeSample(const std::filesystem::path& path);

// `tables` tables ("Synthetic", "Synthetic2", ...) of `rows` records and `columns` fields of mixed
// types each, for benchmarks.
accesswriter::Summary writeSynthetic(const std::filesystem::path& path, uint64_t rows, int columns, int tables = 1);

}  // namespace mkdb
