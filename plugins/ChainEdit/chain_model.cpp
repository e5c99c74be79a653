#include "chain_model.h"

#include <algorithm>
#include <cstring>

#include "pluginfw/value_text.h"

namespace chainedit {

namespace {

std::string fixed(const char* text, size_t size)
{
    return std::string(text, strnlen(text, size));
}

std::string refusal(int code)
{
    switch (code) {
    case MGR_ERR_CHAIN_EXISTS:
        return "A chain of this name exists already.";
    case MGR_ERR_NO_CHAIN:
        return "The chain no longer exists.";
    case MGR_ERR_NO_FUNC:
        return "The filter is no longer registered.";
    case MGR_ERR_INST_EXISTS:
        return "The filter has an instance of this name already.";
    case MGR_ERR_NO_PLUGIN:
        return "The editor's plug-in is not registered.";
    default:
        return "The manager refused it (error " + std::to_string(code) + ").";
    }
}

int fail(int code, std::string* error)
{
    if (error)
        *error = refusal(code);
    return code;
}

std::string trimmedRight(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

} // namespace

std::string chainNameProblem(const std::string& name)
{
    if (name.empty())
        return "A name cannot be empty.";
    if (name.size() >= MGR_NAME_SIZE)
        return "A name can have at most " + std::to_string(MGR_NAME_SIZE - 1) + " characters.";
    for (const unsigned char c : name)
        if (c < 0x20 || c == 0x7f)
            return "A name cannot hold line breaks, tabs or other control characters.";
    if (name.find_first_of("[]{}") != std::string::npos)
        return "A name cannot hold '[', ']', '{' or '}': the settings file would read it as a header.";
    if (name.find_first_of(":|") != std::string::npos)
        return "A name cannot hold ':' or '|': they separate the parts of a chain in the settings file.";
    if (name.front() == ' ' || name.back() == ' ')
        return "A name cannot begin or end with a blank.";
    return {};
}

std::vector<int> ChainModel::memberIds(int chainId) const
{
    _FilterChainDesc desc{};
    if (t_->mgrGetFilterChainInfo(chainId, &desc) != 0 || desc.memberCount == 0)
        return {};
    std::vector<uint32_t> ids(desc.memberCount);
    desc.memberIds = ids.data();
    if (t_->mgrGetFilterChainInfo(chainId, &desc) != 0)
        return {};
    ids.resize(std::min<size_t>(ids.size(), desc.memberCount));
    return std::vector<int>(ids.begin(), ids.end());
}

std::vector<FilterRef> ChainModel::filters() const
{
    std::vector<FilterRef> out;
    int id = 0;
    _FuncItem item{};
    for (int rc = t_->mgrGetRegFirstFunc(&id, &item); rc == 0; rc = t_->mgrGetRegNextFunc(&id, &item)) {
        if (item.flags & FUNC_FILTER)
            out.push_back({item.id, fixed(item.plugin, sizeof item.plugin), fixed(item.function, sizeof item.function),
                           (item.flags & FUNC_FILTER_INSTANCES) != 0});
        item = _FuncItem{};
    }
    return out;
}

FilterRef ChainModel::filterById(int funcId) const
{
    for (const FilterRef& f : filters())
        if (f.funcId == funcId)
            return f;
    return {};
}

std::vector<InstanceRef> ChainModel::instances(int funcId) const
{
    std::vector<InstanceRef> out;
    int id = 0;
    char name[MGR_NAME_SIZE] = {};
    for (int rc = t_->mgrGetFirstFilterInst(funcId, &id, name); rc == 0;
         rc = t_->mgrGetNextFilterInst(funcId, &id, name))
        out.push_back({id, fixed(name, sizeof name)});
    return out;
}

std::vector<ChainRef> ChainModel::chains() const
{
    const std::vector<FilterRef> all = filters();
    std::vector<ChainRef> out;
    int id = 0;
    _FilterChainDesc desc{};
    for (int rc = t_->mgrGetFirstFilterChain(&id, &desc); rc == 0; rc = t_->mgrGetNextFilterChain(&id, &desc)) {
        out.push_back({id, fixed(desc.plugin, sizeof desc.plugin), fixed(desc.name, sizeof desc.name), {}});
        desc = _FilterChainDesc{};
    }
    for (ChainRef& chain : out) {
        for (const int memberId : memberIds(chain.id)) {
            ChainMemberRef m;
            m.memberId = memberId;
            if (static_cast<uint32_t>(memberId) >= FILTER_INSTANCE_ID_FIRST) {
                for (const FilterRef& f : all) {
                    if (!f.hasInstances)
                        continue;
                    for (const InstanceRef& i : instances(f.funcId))
                        if (i.id == memberId) {
                            m.filter = f;
                            m.instance = i;
                        }
                    if (m.filter.funcId)
                        break;
                }
            } else {
                for (const FilterRef& f : all)
                    if (f.funcId == memberId)
                        m.filter = f;
                if (m.filter.hasInstances)
                    m.instance = {int(FILTER_DEFAULT_INSTANCE_ID), "Default instance"};
            }
            chain.members.push_back(std::move(m));
        }
    }
    return out;
}

int ChainModel::createChain(const std::string& name, int* outId, std::string* error)
{
    if (const std::string problem = chainNameProblem(name); !problem.empty()) {
        if (error)
            *error = problem;
        return TVK_ERR_PARAM;
    }
    int id = 0;
    if (const int rc = t_->mgrCreateFilterChain(owner_.c_str(), name.c_str(), &id); rc != 0)
        return fail(rc, error);
    if (outId)
        *outId = id;
    return 0;
}

int ChainModel::renameChain(int chainId, const std::string& name, int* outId, std::string* error)
{
    _FilterChainDesc desc{};
    if (const int rc = t_->mgrGetFilterChainInfo(chainId, &desc); rc != 0)
        return fail(rc, error);
    if (fixed(desc.name, sizeof desc.name) == name) {
        if (outId)
            *outId = chainId;
        return 0;
    }
    const std::vector<int> members = memberIds(chainId);
    int newId = 0;
    if (const int rc = createChain(name, &newId, error); rc != 0)
        return rc;
    for (const int member : members) {
        if (const int rc = t_->mgrAddToFilterChain(newId, member, -1); rc != 0) {
            t_->mgrRemoveFilterChain(newId); // the old chain stays as it was
            return fail(rc, error);
        }
    }
    t_->mgrRemoveFilterChain(chainId);
    if (outId)
        *outId = newId;
    return 0;
}

int ChainModel::removeChain(int chainId, std::string* error)
{
    const int rc = t_->mgrRemoveFilterChain(chainId);
    return rc == 0 ? 0 : fail(rc, error);
}

int ChainModel::addMember(int chainId, int memberId, int position, std::string* error)
{
    const int rc = t_->mgrAddToFilterChain(chainId, memberId, position);
    return rc == 0 ? 0 : fail(rc, error);
}

int ChainModel::removeMember(int chainId, int index, std::string* error)
{
    const int rc = t_->mgrRemoveFromFilterChain(chainId, index);
    return rc == 0 ? 0 : fail(rc, error);
}

int ChainModel::moveMember(int chainId, int index, int delta, std::string* error)
{
    const std::vector<int> ids = memberIds(chainId);
    const int to = index + delta;
    if (index < 0 || index >= int(ids.size()) || to < 0 || to >= int(ids.size()))
        return 0;
    if (const int rc = t_->mgrRemoveFromFilterChain(chainId, index); rc != 0)
        return fail(rc, error);
    if (const int rc = t_->mgrAddToFilterChain(chainId, ids[size_t(index)], to); rc != 0) {
        t_->mgrAddToFilterChain(chainId, ids[size_t(index)], index); // back where it was
        return fail(rc, error);
    }
    return 0;
}

int ChainModel::setMemberInstance(int chainId, int index, int instanceId, std::string* error)
{
    const std::vector<int> ids = memberIds(chainId);
    if (index < 0 || index >= int(ids.size()))
        return fail(TVK_ERR_PARAM, error);
    if (const int rc = t_->mgrAddToFilterChain(chainId, instanceId, index); rc != 0)
        return fail(rc, error);
    if (const int rc = t_->mgrRemoveFromFilterChain(chainId, index + 1); rc != 0)
        return fail(rc, error);
    return 0;
}

int ChainModel::createInstance(int funcId, const std::string& name, int* outId, std::string* error)
{
    if (const std::string problem = chainNameProblem(name); !problem.empty()) {
        if (error)
            *error = problem;
        return TVK_ERR_PARAM;
    }
    int id = 0;
    const int rc = t_->mgrCreateFilterInst(funcId, name.c_str(), &id);
    if (rc != 0) {
        // The manager tells a name in use and a refusal of the filter apart only in its log.
        for (const InstanceRef& i : instances(funcId))
            if (i.name == name)
                return fail(MGR_ERR_INST_EXISTS, error);
        if (error)
            *error = "The filter could not make a new instance.";
        return rc;
    }
    if (outId)
        *outId = id;
    return 0;
}

std::vector<ParameterRef> ChainModel::parameters(int id) const
{
    std::vector<ParameterRef> out;
    uint32_t count = 0;
    if (t_->mgrGetFilterPar(id, -1, nullptr, &count) != 0)
        return out;
    std::vector<unsigned char> value(1024);
    for (uint32_t index = 0; index < count && index < 1024; ++index) {
        _FilterParDesc desc{};
        desc.data = value.data();
        uint32_t size = static_cast<uint32_t>(value.size());
        if (t_->mgrGetFilterPar(id, int(index), &desc, &size) != 0)
            break;
        if (size > value.size() && size <= (64u << 20)) { // the value did not fit: again with room for it
            value.assign(size, 0);
            desc = _FilterParDesc{};
            desc.data = value.data();
            if (t_->mgrGetFilterPar(id, int(index), &desc, &size) != 0)
                break;
        }
        ParameterRef p;
        p.index = int(index);
        p.type = int(desc.type);
        p.count = desc.count;
        p.name = desc.name ? desc.name : "";
        p.description = desc.description ? desc.description : "";
        const size_t needed = size_t(std::max(typeElementSize(p.type), 0)) * desc.count;
        if (needed <= value.size())
            p.value = trimmedRight(valueToString(p.type, value.data(), int(desc.count)));
        out.push_back(std::move(p));
    }
    return out;
}

int ChainModel::setParameter(int id, int index, const std::string& text, std::string* error)
{
    const std::vector<ParameterRef> pars = parameters(id);
    const auto p = std::find_if(pars.begin(), pars.end(), [&](const ParameterRef& r) { return r.index == index; });
    if (p == pars.end()) {
        if (error)
            *error = "The filter has no such parameter.";
        return TVK_ERR_PARAM;
    }
    const size_t size = size_t(std::max(typeElementSize(p->type), 0)) * p->count;
    if (size == 0) {
        if (error)
            *error = "The parameter's type cannot be edited.";
        return TVK_ERR_PARAM;
    }
    std::vector<unsigned char> value(size, 0);
    if (textToValue(value.data(), text.c_str(), p->type, int(p->count)) != 0) {
        if (error)
            *error = "\"" + text + "\" is not a " + (p->count > 1 && p->type != TYPE_CHAR ? "list of " : "") +
                     typeName(p->type) + " value" +
                     (p->type == TYPE_CHAR ? " of at most " + std::to_string(p->count - 1) + " characters" : "") +
                     " for \"" + p->name + "\".";
        return TVK_ERR_PARAM;
    }
    if (const int rc = t_->mgrSetFilterPar(id, index, value.data(), static_cast<uint32_t>(size)); rc != 0) {
        if (error)
            *error = "The filter refused the value for \"" + p->name + "\" (error " + std::to_string(rc) + ").";
        return rc;
    }
    return 0;
}

} // namespace chainedit
