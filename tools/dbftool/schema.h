// The SCHEMA argument of `dbftool create`: comma-separated fields NAME:TYPE[:LENGTH[:DECIMALS]], e.g.
// NAME:C:20,AMOUNT:N:10:2,FLAG:L,DAY:D,NOTES:M.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tableaccess/xbase/dbf.h"

namespace dbftool {

// Parses and checks a schema for a table of the given format: names of 1 to 10 letters, digits or
// underscores starting with a letter, unique without regard to case (stored upper case); types C N F L D
// M for every format, and I Y T B for Visual FoxPro; C 1..254, N and F 1..20 with fewer decimals than
// length - 1 (or none); L, D, M (and I Y T B) take no length. False with a message naming the bad entry.
bool parseSchema(std::string_view schema, xb::Format format, std::vector<xb::NewField>& fields,
                 std::string& error);

}  // namespace dbftool
