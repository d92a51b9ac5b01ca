// The describe information of a statement turned into implementation descriptor records.
#include "odbc/engine.h"
#include "odbc/handles.h"

void DBDescribeData(tagSTMT*) {}

const char* ParseNamePart(const char* text, tagOBJECT*, char** out) {
  *out = nullptr;
  return text;
}
