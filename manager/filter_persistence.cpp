#include "filter_persistence.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "mgr_ini.h"
#include "plugin_mgr.h"
#include "pluginfw/tvk_utils.h"

namespace {

bool startsWith(std::string_view text, char c)
{
    return !text.empty() && text.front() == c;
}

bool hasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool isTextType(uint32_t type)
{
    return type == TYPE_CHAR || type == TYPE_UCHAR || type == TYPE_STRING;
}

// A parameter line must stay one line and must not read as a header or a section.
bool storableParameterLine(std::string_view line)
{
    return !hasLineBreak(line) && !startsWith(line, '{') && !startsWith(line, '[');
}

// The ways to read "plugin:function:rest" as a function key and the rest, in the order in which they are
// tried: split at the second ':' first, then at each later one, since a function name may itself hold
// ':'. Each split leaves a non-empty rest.
std::vector<std::pair<std::string, std::string>> keySplits(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> splits;
    const size_t first = text.find(':');
    if (first == std::string_view::npos)
        return splits;
    for (size_t at = text.find(':', first + 1); at != std::string_view::npos && at + 1 < text.size();
         at = text.find(':', at + 1))
        splits.emplace_back(text.substr(0, at), text.substr(at + 1));
    return splits;
}

// "{key:instance}": the first split whose key names a filter with instances; false when none does
// (or the line is no header).
bool parseInstanceHeader(const FuncMgr& funcs, const std::string& line, std::shared_ptr<FilterInfo>& filter,
                         std::string& funcKey, std::string& instanceName)
{
    if (line.size() < 2 || line.front() != '{' || line.back() != '}')
        return false;
    for (auto& [key, rest] : keySplits(std::string_view(line).substr(1, line.size() - 2))) {
        const auto function = funcs.find(key);
        FilterInfo* filterPtr = function ? function->asFilter() : nullptr;
        if (!filterPtr)
            continue;
        filter = std::shared_ptr<FilterInfo>(function, filterPtr);
        funcKey = std::move(key);
        instanceName = std::move(rest);
        return true;
    }
    return false;
}

// "{owner:chain}".
bool parseChainHeader(const std::string& line, std::string& owner, std::string& chainName)
{
    if (line.size() < 2 || line.front() != '{' || line.back() != '}')
        return false;
    const size_t colon = line.find(':', 1);
    if (colon == std::string::npos || colon >= line.size() - 1)
        return false;
    owner = line.substr(1, colon - 1);
    chainName = line.substr(colon + 1, line.size() - 2 - colon);
    return true;
}

// ---- writing ----

void appendInstanceLines(Log& log, const FilterInfo& filter, uint32_t count, const FilterInstInfo& instance,
                         std::vector<std::string>& lines)
{
    const std::string label = filter.getName() + ":" + instance.name();
    const std::string header = "{" + label + "}";
    if (hasLineBreak(header)) {
        log.logMsg("tvkmgr", "Filter instance %s is not stored: its name holds a line break.", 0, label.c_str());
        return;
    }
    lines.push_back(header);
    std::vector<unsigned char> value;
    for (uint32_t index = 0; index < count; ++index) {
        _FilterParDesc desc{};
        uint32_t size = 0;
        if (filter.getParameter(log, instance.handle(), static_cast<int>(index), desc, &value, size) != 0)
            return;
        const std::string name = desc.name ? desc.name : "";
        std::string text; // a type beyond the table gives an empty value
        if (desc.type <= TYPE_STRING) {
            const uint64_t bytes = static_cast<uint64_t>(typeElementSize(static_cast<int>(desc.type))) * desc.count;
            if (bytes > value.size()) {
                log.logMsg("tvkmgr",
                           "Filter instance %s: parameter %s is not stored: %u elements do not fit the %zu bytes "
                           "of its value.",
                           0, label.c_str(), name.c_str(), desc.count, value.size());
                continue;
            }
            text = valueToString(static_cast<int>(desc.type), value.data(), static_cast<int>(desc.count));
        }
        std::string line = name + ":" + text;
        if (!storableParameterLine(line)) {
            log.logMsg("tvkmgr",
                       "Filter instance %s: parameter %s is not stored: its line would hold a line break or begin "
                       "with '{' or '['.",
                       0, label.c_str(), name.c_str());
            continue;
        }
        lines.push_back(std::move(line));
    }
}

// ---- restoring ----

struct ParameterDesc {
    int index;
    uint32_t type;
    uint32_t count;
    std::string name;
};

void restoreValue(Log& log, const FilterInfo& filter, void* handle, const std::string& label, const ParameterDesc& par,
                  const std::string& text)
{
    if (par.type > TYPE_STRING) {
        log.logMsg("tvkmgr", "Filter instance %s: parameter %s has the unknown type %u; its line is ignored.", 0,
                   label.c_str(), par.name.c_str(), par.type);
        return;
    }
    const uint64_t bytes = static_cast<uint64_t>(typeElementSize(static_cast<int>(par.type))) * par.count;
    if (bytes > FilterInfo::kMaxValueSize) {
        log.logMsg("tvkmgr", "Filter instance %s: parameter %s would need %llu bytes; its line is ignored.", 0,
                   label.c_str(), par.name.c_str(), static_cast<unsigned long long>(bytes));
        return;
    }
    std::vector<unsigned char> value(bytes);
    if (isTextType(par.type)) {
        // The text fills the value's bytes, the rest zero, as it was written (never cut).
        if (text.size() > bytes) {
            log.logMsg("tvkmgr",
                       "Filter instance %s: the value of parameter %s is longer than its %llu bytes; "
                       "its line is ignored.",
                       0, label.c_str(), par.name.c_str(), static_cast<unsigned long long>(bytes));
            return;
        }
        std::memcpy(value.data(), text.data(), text.size());
    } else if (textToValue(value.data(), text.c_str(), static_cast<int>(par.type), static_cast<int>(par.count)) != 0) {
        log.logMsg("tvkmgr",
                   "Filter instance %s: the value \"%s\" of parameter %s cannot be read as %u x %s; "
                   "its line is ignored.",
                   0, label.c_str(), text.c_str(), par.name.c_str(), par.count, typeName(static_cast<int>(par.type)));
        return;
    }
    const int set = filter.setParameter(log, handle, par.index, value.data(), static_cast<uint32_t>(bytes));
    if (set != 0)
        log.logMsg("tvkmgr", "Filter instance %s: the plugin refused the value of parameter %s (code %d).", 0,
                   label.c_str(), par.name.c_str(), set);
}

// The parameters of one instance from the lines of its block [begin, end).
void restoreParameters(Log& log, const FilterInfo& filter, const FilterInstInfo& instance, const std::string& label,
                       uint32_t count, const std::string* begin, const std::string* end)
{
    std::vector<ParameterDesc> pars;
    for (uint32_t index = 0; index < count; ++index) {
        _FilterParDesc desc{};
        uint32_t size = 0;
        if (filter.getParameter(log, instance.handle(), static_cast<int>(index), desc, nullptr, size) != 0 ||
            !desc.name)
            continue;
        pars.push_back({static_cast<int>(index), desc.type, desc.count, desc.name});
    }
    // A line belongs to the parameter whose whole name, followed by ':', begins it; where several names
    // do ("Thr" and "Thr high"), to the longest.
    std::vector<const ParameterDesc*> lineOwner;
    for (const std::string* line = begin; line != end; ++line) {
        const ParameterDesc* owner = nullptr;
        for (const ParameterDesc& par : pars) {
            const bool matches = line->size() > par.name.size() && line->compare(0, par.name.size(), par.name) == 0 &&
                                 (*line)[par.name.size()] == ':';
            if (matches && (!owner || par.name.size() > owner->name.size()))
                owner = &par;
        }
        lineOwner.push_back(owner);
    }
    for (const ParameterDesc& par : pars) {
        for (size_t i = 0; i < lineOwner.size(); ++i) {
            if (lineOwner[i] && lineOwner[i]->name == par.name) {
                restoreValue(log, filter, instance.handle(), label, par, begin[i].substr(par.name.size() + 1));
                break; // the first line of that name counts
            }
        }
    }
}

// ---- lines kept for plug-ins and functions that are not there ----

// Whether the plug-in named before the first ':' of text is loaded or listed: its lines are kept.
bool pluginKept(PluginMgr& plugins, const HeldFilterLines& held, std::string_view text)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    const std::string name = toLowerAscii(text.substr(0, colon));
    return held.listedPlugins.count(name) != 0 || plugins.findPlugin(name) != nullptr;
}

// Whether no reading of text as "key:rest" (and, with wholeIsKey, of the whole text) names a registered
// function.
bool noFunctionFor(const FuncMgr& funcs, std::string_view text, bool wholeIsKey)
{
    if (wholeIsKey && funcs.find(text))
        return false;
    for (const auto& [key, rest] : keySplits(text))
        if (funcs.find(key))
            return false;
    return true;
}

// An instance header "{plugin:function:instance}" that was skipped because its function is not registered,
// of a plug-in whose lines are kept.
bool heldInstanceHeader(PluginMgr& plugins, const HeldFilterLines& held, const std::string& line)
{
    if (line.size() < 2 || line.front() != '{' || line.back() != '}')
        return false;
    const std::string_view inner = std::string_view(line).substr(1, line.size() - 2);
    return !keySplits(inner).empty() && noFunctionFor(plugins.funcs(), inner, false) &&
           pluginKept(plugins, held, inner);
}

// Calls each(header, block lines) for every block of lines, a block being a line that begins with '{'
// with the lines up to the next such line.
template <class Each>
void forEachBlock(const std::vector<std::string>& lines, Each each)
{
    size_t i = 0;
    while (i < lines.size()) {
        size_t end = i + 1;
        while (end < lines.size() && !startsWith(lines[end], '{'))
            ++end;
        const auto first = lines.begin() + static_cast<std::ptrdiff_t>(i);
        each(lines[i], first, first + static_cast<std::ptrdiff_t>(end - i));
        i = end;
    }
}

} // namespace

std::vector<std::string> filterInstancesLines(PluginMgr& plugins, const HeldFilterLines* held)
{
    Log& log = plugins.log();
    std::vector<std::string> lines;
    for (const auto& function : plugins.funcs().items()) {
        const FilterInfo* filter = function->asFilter();
        if (!filter)
            continue;
        uint32_t count = 0;
        if (filter->parameterCount(log, &count) != 0)
            continue;
        for (const auto& instance : filter->instances().items())
            appendInstanceLines(log, *filter, count, *instance, lines);
    }
    if (held) {
        // A filter registered by now (a plug-in added at run time) has had its live instances written.
        forEachBlock(held->instanceLines, [&](const std::string& header, auto begin, auto end) {
            std::shared_ptr<FilterInfo> filter;
            std::string funcKey, instanceName;
            if (!parseInstanceHeader(plugins.funcs(), header, filter, funcKey, instanceName))
                lines.insert(lines.end(), begin, end);
        });
    }
    return lines;
}

void restoreFilterInstances(PluginMgr& plugins, const std::vector<std::string>& lines, HeldFilterLines* held)
{
    Log& log = plugins.log();
    FuncMgr& funcs = plugins.funcs();
    size_t i = 0;
    while (i < lines.size()) {
        std::string funcKey, instanceName;
        std::shared_ptr<FilterInfo> filter;
        // Lines outside a block, and headers of functions that are gone or have no instances, are skipped;
        // the block of a function that is not registered by a plug-in that stays is kept as it is.
        const std::string& header = lines[i++];
        if (!parseInstanceHeader(funcs, header, filter, funcKey, instanceName)) {
            if (held && heldInstanceHeader(plugins, *held, header)) {
                held->instanceLines.push_back(header);
                for (; i < lines.size() && !startsWith(lines[i], '{'); ++i)
                    held->instanceLines.push_back(lines[i]);
            }
            continue;
        }
        std::shared_ptr<FilterInstInfo> instance;
        if (instanceName == FILTER_DEFAULT_INSTANCE_NAME) {
            instance = filter->defaultInstance();
        } else {
            uint32_t id = 0;
            if (funcs.createInstanceWithNextId(filter, instanceName, &id) == 0)
                instance = filter->instances().findById(id);
        }
        uint32_t count = 0;
        if (!instance || filter->parameterCount(log, &count) != 0)
            continue;
        size_t end = i;
        while (end < lines.size() && end - i < count && !startsWith(lines[end], '{'))
            ++end;
        restoreParameters(log, *filter, *instance, funcKey + ":" + instanceName, count, lines.data() + i,
                          lines.data() + end);
        i = end;
    }
}

std::vector<std::string> filterChainsLines(PluginMgr& plugins, const HeldFilterLines* held)
{
    Log& log = plugins.log();
    FilterChainMgr& chains = plugins.chains();
    std::vector<std::string> lines;
    for (const auto& chain : chains.items()) {
        if (held) {
            const auto partial = std::find_if(
                held->partialChains.begin(), held->partialChains.end(),
                [&](const HeldFilterLines::PartialChain& p) { return p.chain.lock() == chain; });
            if (partial != held->partialChains.end() && chains.chainText(chain->id()) == partial->restoredText) {
                lines.insert(lines.end(), partial->lines.begin(), partial->lines.end());
                continue;
            }
        }
        const std::string header = "{" + chain->getName() + "}";
        if (hasLineBreak(header)) {
            log.logMsg("tvkmgr", "Filter chain %s is not stored: its name holds a line break.", 0,
                       chain->getName().c_str());
            continue;
        }
        lines.push_back(header);
        const std::string text = chains.chainText(chain->id());
        size_t start = 0;
        while (start < text.size()) {
            size_t bar = text.find('|', start);
            if (bar == std::string::npos)
                bar = text.size();
            if (bar > start)
                lines.push_back(text.substr(start, bar - start));
            start = bar + 1;
        }
    }
    if (held) {
        // A chain created by now (its owner added at run time) has had its live state written.
        forEachBlock(held->chainLines, [&](const std::string& header, auto begin, auto end) {
            std::string owner, chainName;
            if (parseChainHeader(header, owner, chainName) && !chains.find(toLowerAscii(owner) + ":" + chainName))
                lines.insert(lines.end(), begin, end);
        });
    }
    return lines;
}

void restoreFilterChains(PluginMgr& plugins, const std::vector<std::string>& lines, HeldFilterLines* held)
{
    FuncMgr& funcs = plugins.funcs();
    FilterChainMgr& chains = plugins.chains();
    size_t i = 0;
    while (i < lines.size()) {
        std::string owner, chainName;
        const std::string& header = lines[i++];
        if (!parseChainHeader(header, owner, chainName))
            continue;
        uint32_t chainId = 0;
        if (chains.createChain(owner.c_str(), chainName.c_str(), &chainId) != 0) {
            // The chain of an owner that stays listed but is not loaded is kept whole.
            const bool hold = held && !plugins.findPlugin(owner) && held->listedPlugins.count(toLowerAscii(owner));
            if (hold)
                held->chainLines.push_back(header);
            for (; i < lines.size() && !startsWith(lines[i], '{'); ++i)
                if (hold)
                    held->chainLines.push_back(lines[i]);
            continue;
        }
        // A member whose function is not registered, of a plug-in that stays, leaves the chain restored
        // without it; its line is kept together with those of the restored members, in their order, so that
        // an unchanged chain is written back whole.
        std::vector<std::string> asRead{header};
        bool partial = false;
        for (; i < lines.size() && !startsWith(lines[i], '{'); ++i) {
            const std::string& line = lines[i];
            if (line.find(':') == std::string::npos)
                continue;
            // "key:instance" of a filter with instances, else the whole line as a function key.
            uint32_t memberId = 0;
            for (const auto& [key, instanceName] : keySplits(line)) {
                const auto function = funcs.find(key);
                const FilterInfo* filter = function ? function->asFilter() : nullptr;
                const auto instance = filter ? filter->instances().find(instanceName) : nullptr;
                if (instance) {
                    memberId = instance->id() >= FILTER_INSTANCE_ID_FIRST ? instance->id() : function->id();
                    break;
                }
            }
            if (memberId == 0) {
                const auto function = funcs.find(line);
                if (!function) {
                    // a function or instance that cannot be found
                    if (held && noFunctionFor(funcs, line, true) && pluginKept(plugins, *held, line)) {
                        asRead.push_back(line);
                        partial = true;
                    }
                    continue;
                }
                memberId = function->id();
            }
            if (chains.addToChain(chainId, memberId, -1) == 0)
                asRead.push_back(line);
        }
        if (partial)
            held->partialChains.push_back({chains.findById(chainId), chains.chainText(chainId), std::move(asRead)});
    }
}

int saveFilterSections(PluginMgr& plugins, const std::string& iniPath, const HeldFilterLines* held)
{
    const std::pair<const char*, std::vector<std::string>> sections[] = {
        {kFilterInstancesSection, filterInstancesLines(plugins, held)},
        {kFilterChainsSection, filterChainsLines(plugins, held)},
    };
    for (const auto& [section, lines] : sections) {
        std::string error;
        const int result = writeIniSection(iniPath, section, lines, &error);
        if (result != 0) {
            plugins.log().logMsg("tvkmgr", "Section [%s] was not written: %s", 0, section, error.c_str());
            return result;
        }
    }
    return 0;
}

void restoreFilterSections(PluginMgr& plugins, const std::string& iniPath, HeldFilterLines* held)
{
    for (const char* section : {kFilterInstancesSection, kFilterChainsSection}) {
        std::vector<std::string> lines;
        std::string error;
        if (readIniSection(section, iniPath, lines, &error) < 0) {
            plugins.log().logMsg("tvkmgr", "Section [%s] was not read: %s", 0, section, error.c_str());
            return;
        }
        if (std::strcmp(section, kFilterInstancesSection) == 0)
            restoreFilterInstances(plugins, lines, held);
        else
            restoreFilterChains(plugins, lines, held);
    }
}
