// What `rvo info` and Python's rvo.info() report of a file: the header fields,
// the index entries and, for packed files, how many records of each type. Built
// once as a JSON value, which the tool prints as JSON or as a table and Python
// returns as a dict.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "container/RvoFile.h"

using Json = nlohmann::ordered_json;

// One index entry: kind, name, startFrame, lastFrame, flags, blobOffset, blobSize.
Json EntryReport(const RvoIndexEntry& e);
// The file's report (moves a packed file's raw position).
Json InfoReport(CRvoFile& f);

// The tool's JSON layout: one line per object, ", " and ": " between items, an
// array of objects with one object a line. Values and strings as the library
// writes them.
std::string RenderJson(const Json& j);
