// The aggregates Access has and SQLite lacks or does otherwise: Sum (compensated, exact on
// integers, Null over no values), Min and Max in Access's order, First and Last (the value of
// the first or last record fed, Null included), and the deviations and variances.
#include <algorithm>
#include <cmath>
#include <new>

#include "source/query/access_bodies.h"
#include "source/query/access_values.h"

namespace access_sql {

namespace {

struct SumState {
  bool any = false;
  bool real = false;
  int64_t whole = 0;
  double sum = 0, compensation = 0;  // Neumaier's summation: currency cents stay exact
};

void addReal(SumState& s, double x) {
  double t = s.sum + x;
  s.compensation += std::fabs(s.sum) >= std::fabs(x) ? (s.sum - t) + x : (x - t) + s.sum;
  s.sum = t;
}

void sumStep(const Call& call) {
  auto* s = static_cast<SumState*>(sqlite3_aggregate_context(call.context, sizeof(SumState)));
  if (!s) return sqlite3_result_error_nomem(call.context);
  if (isNull(call[0])) return;
  s->any = true;
  int64_t whole = 0;
  if (sqlite3_value_type(call[0]) == SQLITE_INTEGER &&
      !__builtin_add_overflow(s->whole, sqlite3_value_int64(call[0]), &whole)) {
    s->whole = whole;
    return;
  }
  s->real = true;
  addReal(*s, toNumber(call.name, call[0]));
}

void sumFinal(sqlite3_context* context, std::string_view) {
  auto* s = static_cast<SumState*>(sqlite3_aggregate_context(context, 0));
  if (!s || !s->any) return sqlite3_result_null(context);
  if (!s->real) return sqlite3_result_int64(context, s->whole);
  addReal(*s, static_cast<double>(s->whole));
  sqlite3_result_double(context, s->sum + s->compensation);
}

struct HeldValue {
  sqlite3_value* value;
  bool seen;
};

HeldValue* held(sqlite3_context* context, int bytes) {
  return static_cast<HeldValue*>(sqlite3_aggregate_context(context, bytes));
}

void keep(HeldValue& h, sqlite3_value* value) {
  sqlite3_value* copy = sqlite3_value_dup(value);
  if (!copy) throw std::bad_alloc();
  sqlite3_value_free(h.value);
  h.value = copy;
  h.seen = true;
}

template <int Direction>
void extremeStep(const Call& call) {
  HeldValue* h = held(call.context, sizeof(HeldValue));
  if (!h) return sqlite3_result_error_nomem(call.context);
  if (isNull(call[0])) return;
  if (!h->seen || compareValues(call[0], h->value) * Direction > 0) keep(*h, call[0]);
}

template <bool Latest>
void firstLastStep(const Call& call) {
  HeldValue* h = held(call.context, sizeof(HeldValue));
  if (!h) return sqlite3_result_error_nomem(call.context);
  if (Latest || !h->seen) keep(*h, call[0]);
}

void heldFinal(sqlite3_context* context, std::string_view) {
  HeldValue* h = held(context, 0);
  if (!h || !h->seen) return sqlite3_result_null(context);
  sqlite3_result_value(context, h->value);
  sqlite3_value_free(h->value);
  h->value = nullptr;
}

struct SpreadState {
  int64_t count;
  double mean, squares;  // Welford's running mean and sum of squared deviations
};

void spreadStep(const Call& call) {
  auto* s = static_cast<SpreadState*>(sqlite3_aggregate_context(call.context, sizeof(SpreadState)));
  if (!s) return sqlite3_result_error_nomem(call.context);
  if (isNull(call[0])) return;
  double x = toNumber(call.name, call[0]);
  ++s->count;
  double delta = x - s->mean;
  s->mean += delta / static_cast<double>(s->count);
  s->squares += delta * (x - s->mean);
}

template <bool Sample, bool Root>
void spreadFinal(sqlite3_context* context, std::string_view) {
  auto* s = static_cast<SpreadState*>(sqlite3_aggregate_context(context, 0));
  int64_t need = Sample ? 2 : 1;
  if (!s || s->count < need) return sqlite3_result_null(context);
  double variance = std::max(0.0, s->squares / static_cast<double>(s->count - (Sample ? 1 : 0)));
  sqlite3_result_double(context, Root ? std::sqrt(variance) : variance);
}

}  // namespace

const AggregateBody kSum{sumStep, sumFinal};
const AggregateBody kMin{extremeStep<-1>, heldFinal};
const AggregateBody kMax{extremeStep<1>, heldFinal};
const AggregateBody kFirst{firstLastStep<false>, heldFinal};
const AggregateBody kLast{firstLastStep<true>, heldFinal};
const AggregateBody kStDev{spreadStep, spreadFinal<true, true>};
const AggregateBody kStDevP{spreadStep, spreadFinal<false, true>};
const AggregateBody kVar{spreadStep, spreadFinal<true, false>};
const AggregateBody kVarP{spreadStep, spreadFinal<false, false>};

}  // namespace access_sql
