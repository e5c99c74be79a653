// The manager's function table as the plug-in's entry received it, kept once per plug-in module (the
// framework is linked statically into each plug-in, so every module has its own), and the check of its
// interface version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tvk_mgr.h"

const _MgrFuncTable* pluginTable();
void setPluginTable(const _MgrFuncTable* table);

// The plug-in's name as the manager knows it: the file name of the module that holds address, without
// folder and extension, in lower case.
std::string pluginNameOf(const void* address);

// Text of the box that refuses a table of another interface version (the version word read only); empty
// when the version is the one this plug-in was built for.
std::string versionMismatchText(const _MgrFuncTable& table, const std::string& pluginName);

// A function item as a plug-in's table of functions writes it: parameters by type, count and name.
struct FuncParamSpec {
    uint32_t type;
    int32_t count;
    const char* name;
};

struct FuncRecord {
    FuncItemCallback callback;
    const char* name;
    const char* description;
    std::vector<FuncParamSpec> in;
    std::vector<FuncParamSpec> out;
};

// Registers each record through mgr->mgrAddFuncItem under the plug-in name, in order; texts longer than
// their fields are cut.
void registerFuncRecords(const _MgrFuncTable* mgr, const char* plugin, const std::vector<FuncRecord>& records);
