// The manager's function table as the plug-in's entry received it, kept once per plug-in module (the
// framework is linked statically into each plug-in, so every module has its own), and the check of its
// interface version.
#pragma once

#include <string>

#include "tvk_mgr.h"

const _MgrFuncTable* pluginTable();
void setPluginTable(const _MgrFuncTable* table);

// The plug-in's name as the manager knows it: the file name of the module that holds address, without
// folder and extension, in lower case.
std::string pluginNameOf(const void* address);

// Text of the box that refuses a table of another interface version (the version word read only); empty
// when the version is the one this plug-in was built for.
std::string versionMismatchText(const _MgrFuncTable& table, const std::string& pluginName);
