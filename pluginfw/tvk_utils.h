// Shared utilities, one header per part: precise time and waits, typed values as text, indexed and
// description file names, whole-array files. Includes all of them for code that uses several.
#pragma once

#include "array_files.h"
#include "file_names.h"
#include "time_utils.h"
#include "value_text.h"
