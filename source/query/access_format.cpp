#include "source/query/access_bodies.h"
#include "source/query/access_values.h"
namespace access {
void fnFormat(const Call& call) {
  if (isNull(call[0])) return resultText(call.context, "");
  resultText(call.context, toText(call.name, call[0]));
}
}
