// Filters with instances, filter chains, and both written to and restored from the ini file.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "filter_persistence.h"
#include "mgr_ini.h"
#include "mgr_test_support.h"
#include "pluginfw/tvk_utils.h"

using mgrtest::funcItem;
using mgrtest::ManagerCore;
using mgrtest::noopFunction;
using Strings = std::vector<std::string>;

namespace {

// ---- a filter plug-in within the test program ----

struct Param {
    const char* name;
    uint32_t type;
    uint32_t count;
};

// Two parameters whose names share a prefix, numbers, text of every length, and a type beyond the table.
const std::vector<Param> kThresholdParams = {
    {"Thr", TYPE_I32, 1},     {"Thr high", TYPE_I32, 1}, {"Gain", TYPE_DOUBLE, 2},
    {"Label", TYPE_CHAR, 16}, {"Enabled", TYPE_BOOL, 1}, {"Note", TYPE_CHAR, 2000},
};

struct FakeInstance {
    std::vector<std::vector<unsigned char>> values;
};

// One filter's instance callbacks; the contexts point to it.
struct FakeFilter {
    explicit FakeFilter(std::vector<Param> p) : params(std::move(p))
    {
        callbacks = {this, this, this, this, this, create, destroy, set, get};
    }
    // The plug-in frees what the manager did not ask it to delete when it ends.
    ~FakeFilter()
    {
        for (FakeInstance* inst : live)
            delete inst;
    }

    // A type beyond the table takes one byte per element.
    static uint32_t bytes(const Param& p)
    {
        return p.count * static_cast<uint32_t>(std::max(typeElementSize(static_cast<int>(p.type)), 1));
    }

    static int create(void* ctx, void** instance)
    {
        auto* self = static_cast<FakeFilter*>(ctx);
        if (self->failCreate)
            return -1;
        auto* inst = new FakeInstance;
        for (const Param& p : self->params)
            inst->values.emplace_back(bytes(p), 0);
        *instance = inst;
        self->live.insert(inst);
        ++self->created;
        return 0;
    }
    static int destroy(void* ctx, void* instance)
    {
        auto* self = static_cast<FakeFilter*>(ctx);
        delete static_cast<FakeInstance*>(instance);
        self->live.erase(static_cast<FakeInstance*>(instance));
        self->deleted.push_back(instance);
        return 42; // handed back by the deletion
    }
    static int set(void* ctx, void* instance, int index, const void* data, uint32_t size)
    {
        auto* self = static_cast<FakeFilter*>(ctx);
        auto* inst = static_cast<FakeInstance*>(instance);
        if (index < 0 || static_cast<size_t>(index) >= self->params.size() || size != inst->values[index].size())
            return -2;
        std::memcpy(inst->values[index].data(), data, size);
        return 0;
    }
    static int get(void* ctx, void* instance, int index, _FilterParDesc* desc, uint32_t* size)
    {
        auto* self = static_cast<FakeFilter*>(ctx);
        if (index == -1 && !desc) {
            *size = static_cast<uint32_t>(self->params.size());
            return 0;
        }
        if (index < 0 || static_cast<size_t>(index) >= self->params.size() || !desc)
            return -2;
        const Param& p = self->params[index];
        desc->type = p.type;
        desc->count = p.count;
        desc->name = p.name;
        desc->description = "test parameter";
        const uint32_t needed = bytes(p);
        if (desc->data && *size >= needed)
            std::memcpy(desc->data, static_cast<FakeInstance*>(instance)->values[index].data(), needed);
        *size = needed;
        return 0;
    }

    std::vector<Param> params;
    _FilterInstCallbacks callbacks{};
    bool failCreate = false;
    int created = 0;
    std::vector<void*> deleted;
    std::set<FakeInstance*> live;
};

// What the filters saw when they ran: (function tag, frame id, instance handle).
struct FilterRun {
    std::string tag;
    uint64_t frame;
    void* instance;
};
std::vector<FilterRun> g_runs;
ManagerCore* g_core = nullptr;
uint32_t g_deleteWhileRunning = 0;

int runFilter(void* userData, const _FuncSlot* in, void* const* out)
{
    g_runs.push_back({static_cast<const char*>(userData), in[0].u, in[1].p});
    if (g_deleteWhileRunning) {
        // The instance goes while this filter still uses it: its object must stay valid until we return.
        EXPECT_EQ(g_core->plugins.funcs().deleteFilterInst(g_deleteWhileRunning), 0);
        g_deleteWhileRunning = 0;
        auto* inst = static_cast<FakeInstance*>(in[1].p);
        inst->values[0][0] = 1; // ASan reports a use after free here if the delete ran early
    }
    return out == nullptr && std::string(static_cast<const char*>(userData)) != "fails" ? 0 : -1;
}

template <class T>
T parValue(FuncMgr& funcs, uint32_t id, int index)
{
    T value{};
    _FilterParDesc desc{};
    desc.data = &value;
    uint32_t size = sizeof value;
    EXPECT_EQ(funcs.getFilterPar(id, index, &desc, &size), 0);
    return value;
}

std::string textValue(FuncMgr& funcs, uint32_t id, int index, uint32_t bytes)
{
    std::vector<char> value(bytes);
    _FilterParDesc desc{};
    desc.data = value.data();
    uint32_t size = bytes;
    EXPECT_EQ(funcs.getFilterPar(id, index, &desc, &size), 0);
    return std::string(value.data(), strnlen(value.data(), bytes));
}

class Filters : public ::testing::Test {
protected:
    Filters() : core_(std::string("filters-") + ::testing::UnitTest::GetInstance()->current_test_info()->name())
    {
        g_core = &core_;
        g_runs.clear();
        core_.addPlugin("chainedit");
        core_.addPlugin("clusterer");
    }

    // A filter with instances; returns its function id.
    uint32_t addInstanceFilter(FakeFilter& fake, const char* plugin, const char* name)
    {
        fake.callbacks.runUserData = const_cast<char*>(name);
        _FuncItem item = funcItem(plugin, name, runFilter, &fake.callbacks, FUNC_FILTER | FUNC_FILTER_INSTANCES);
        EXPECT_EQ(funcs_.addFuncItem(&item), 0) << name;
        return static_cast<uint32_t>(item.id);
    }
    uint32_t addPlainFilter(const char* plugin, const char* name, uint32_t flags = FUNC_FILTER)
    {
        _FuncItem item = funcItem(plugin, name, runFilter, const_cast<char*>(name), flags);
        EXPECT_EQ(funcs_.addFuncItem(&item), 0) << name;
        return static_cast<uint32_t>(item.id);
    }
    uint32_t createInst(uint32_t funcId, const char* name)
    {
        uint32_t id = 0;
        EXPECT_EQ(funcs_.createFilterInst(funcId, name, &id), 0) << name;
        return id;
    }
    uint32_t createChain(const char* plugin, const char* name)
    {
        uint32_t id = 0;
        EXPECT_EQ(chains_.createChain(plugin, name, &id), 0) << name;
        return id;
    }

    ManagerCore core_;
    FuncMgr& funcs_ = core_.plugins.funcs();
    FilterChainMgr& chains_ = core_.plugins.chains();
};

// ---- instances ----

TEST_F(Filters, InstanceIdsAndNames)
{
    FakeFilter a(kThresholdParams), b(kThresholdParams);
    const uint32_t fa = addInstanceFilter(a, "chainedit", "A");
    const uint32_t fb = addInstanceFilter(b, "chainedit", "B");
    EXPECT_EQ(a.created, 1) << "the default instance";

    EXPECT_EQ(createInst(fa, "fine"), FILTER_INSTANCE_ID_FIRST);
    EXPECT_EQ(createInst(fb, "fine"), FILTER_INSTANCE_ID_FIRST + 1) << "the same name in another filter";
    uint32_t id = 0;
    EXPECT_EQ(funcs_.createFilterInst(fa, "fine", &id), MGR_ERR_INST_EXISTS);
    EXPECT_EQ(funcs_.createFilterInst(fa, "two\nlines", &id), TVK_ERR_GENERIC);
    EXPECT_EQ(funcs_.createFilterInst(fa, "a|b", &id), TVK_ERR_GENERIC);
    EXPECT_EQ(funcs_.createFilterInst(addPlainFilter("chainedit", "Plain"), "x", &id), TVK_ERR_GENERIC);
    EXPECT_EQ(funcs_.createFilterInst(999, "x", &id), REG_ERR_NOT_FOUND);
    const std::string longName(40, 'n');
    EXPECT_EQ(createInst(fa, longName.c_str()), FILTER_INSTANCE_ID_FIRST + 2) << "refusals do not use up ids";

    struct Walked {
        uint32_t id;
        std::string name;
        bool operator==(const Walked&) const = default;
    };
    std::vector<Walked> walked;
    char name[MGR_NAME_SIZE];
    for (int r = funcs_.getFirstFilterInst(fa, &id, name); r == 0; r = funcs_.getNextFilterInst(fa, &id, name))
        walked.push_back({id, name});
    EXPECT_EQ(walked, (std::vector<Walked>{{1, "Default instance"},
                                           {FILTER_INSTANCE_ID_FIRST, "fine"},
                                           {FILTER_INSTANCE_ID_FIRST + 2, longName.substr(0, 31)}}));
    EXPECT_EQ(funcs_.getFirstFilterInst(funcs_.findFunction("chainedit", "Plain")->id(), &id, name), 1);
    EXPECT_EQ(funcs_.getFirstFilterInst(999, &id, name), REG_ERR_NOT_FOUND);
}

TEST_F(Filters, ParametersOfDefaultAndNamedInstances)
{
    FakeFilter fake(kThresholdParams);
    const uint32_t f = addInstanceFilter(fake, "chainedit", "Threshold");
    const int32_t five = 5;
    ASSERT_EQ(funcs_.setFilterPar(f, 0, &five, sizeof five), 0) << "a function id means its default instance";
    const uint32_t inst = createInst(f, "fine");
    EXPECT_EQ(parValue<int32_t>(funcs_, inst, 0), 5) << "a new instance starts with the default's values";
    const int32_t seven = 7;
    ASSERT_EQ(funcs_.setFilterPar(inst, 0, &seven, sizeof seven), 0);
    EXPECT_EQ(parValue<int32_t>(funcs_, inst, 0), 7);
    EXPECT_EQ(parValue<int32_t>(funcs_, f, 0), 5);
    EXPECT_EQ(funcs_.setFilterPar(inst, 0, &seven, 2), -2) << "the plug-in's result";

    uint32_t count = 0;
    EXPECT_EQ(funcs_.getFilterPar(f, -1, nullptr, &count), 0);
    EXPECT_EQ(count, kThresholdParams.size());
    const uint32_t plain = addPlainFilter("chainedit", "Plain");
    EXPECT_EQ(funcs_.setFilterPar(plain, 0, &five, sizeof five), REG_ERR_NOT_FOUND);
    EXPECT_EQ(funcs_.getFilterPar(FILTER_INSTANCE_ID_FIRST + 50, 0, nullptr, &count), REG_ERR_NOT_FOUND);
}

TEST_F(Filters, DeletingAnInstance)
{
    FakeFilter fake(kThresholdParams);
    const uint32_t f = addInstanceFilter(fake, "chainedit", "Threshold");
    const uint32_t inst = createInst(f, "fine");
    const uint32_t chain = createChain("chainedit", "C");
    ASSERT_EQ(chains_.addToChain(chain, inst, -1), 0);
    ASSERT_EQ(chains_.addToChain(chain, f, -1), 0);

    EXPECT_EQ(funcs_.deleteFilterInst(inst), 42) << "the plug-in's delete result";
    EXPECT_EQ(fake.deleted.size(), 1u);
    EXPECT_EQ(chains_.chainText(chain), "chainedit:Threshold:Default instance|") << "it left the chain";
    EXPECT_EQ(funcs_.deleteFilterInst(inst), REG_ERR_NOT_FOUND);
    EXPECT_EQ(funcs_.deleteFilterInst(1), REG_ERR_NOT_FOUND) << "the default instance stays";
    EXPECT_EQ(funcs_.setFilterPar(inst, 0, nullptr, 0), REG_ERR_NOT_FOUND);
}

// A filter that deletes its own instance while it runs: the plug-in's delete waits for the run to end.
TEST_F(Filters, AnInstanceDeletedWhileInUseIsDeletedByItsLastUser)
{
    FakeFilter fake(kThresholdParams);
    const uint32_t f = addInstanceFilter(fake, "chainedit", "Threshold");
    const uint32_t inst = createInst(f, "fine");
    const uint32_t chain = createChain("chainedit", "C");
    chains_.addToChain(chain, inst, -1);
    g_deleteWhileRunning = inst;
    EXPECT_EQ(chains_.applyToFrame(chain, 10002), 0);
    EXPECT_EQ(g_deleteWhileRunning, 0u);
    ASSERT_EQ(fake.deleted.size(), 1u) << "deleted once the run let go";
    EXPECT_EQ(fake.deleted[0], g_runs.at(0).instance);
}

TEST_F(Filters, AFilterWhoseCreateFailsHasNoDefaultInstance)
{
    FakeFilter fake(kThresholdParams);
    fake.failCreate = true;
    const uint32_t f = addInstanceFilter(fake, "chainedit", "Threshold");
    ASSERT_NE(f, 0u) << "registration still succeeds";
    uint32_t id = 0;
    char name[MGR_NAME_SIZE];
    EXPECT_EQ(funcs_.getFirstFilterInst(f, &id, name), 1);
    EXPECT_EQ(funcs_.setFilterPar(f, 0, nullptr, 0), REG_ERR_NOT_FOUND);
    EXPECT_EQ(funcs_.createFilterInst(f, "x", &id), TVK_ERR_GENERIC);
    const uint32_t chain = createChain("chainedit", "C");
    EXPECT_EQ(chains_.addToChain(chain, f, -1), 0);
    EXPECT_EQ(chains_.chainText(chain), "") << "a member without its instance contributes nothing";
}

TEST_F(Filters, ARefusedFilterGivesItsDefaultInstanceBack)
{
    FakeFilter first(kThresholdParams), second(kThresholdParams);
    addInstanceFilter(first, "chainedit", "Threshold");
    _FuncItem again = funcItem("chainedit", "Threshold", runFilter, &second.callbacks, FUNC_FILTER_INSTANCES);
    EXPECT_EQ(funcs_.addFuncItem(&again), MGR_ERR_FUNC_EXISTS);
    EXPECT_EQ(second.created, 1);
    EXPECT_EQ(second.deleted.size(), 1u);
}

// ---- chains ----

TEST_F(Filters, ChainMembersAndTheirText)
{
    FakeFilter fake(kThresholdParams);
    const uint32_t a = addPlainFilter("chainedit", "A");
    const uint32_t b = addInstanceFilter(fake, "chainedit", "B");
    const uint32_t fine = createInst(b, "fine");
    const uint32_t chain = createChain("chainedit", "Clean");

    ASSERT_EQ(chains_.addToChain(chain, a, -1), 0);
    ASSERT_EQ(chains_.addToChain(chain, fine, -1), 0);
    EXPECT_EQ(chains_.chainText(chain), "chainedit:A|chainedit:B:fine|");
    ASSERT_EQ(chains_.addToChain(chain, b, 0), 0) << "inserted before the first";
    ASSERT_EQ(chains_.addToChain(chain, a, 100), 0) << "beyond the end appends";
    EXPECT_EQ(chains_.chainText(chain), "chainedit:B:Default instance|chainedit:A|chainedit:B:fine|chainedit:A|");

    // The description: member ids (a default instance by its function id), counts and text.
    uint32_t ids[8] = {};
    char text[128];
    _FilterChainDesc desc{};
    desc.memberIds = ids;
    desc.memberCount = 8;
    desc.text = text;
    desc.textSize = sizeof text;
    ASSERT_EQ(chains_.getChainInfo(chain, &desc), 0);
    EXPECT_STREQ(desc.plugin, "chainedit");
    EXPECT_STREQ(desc.name, "Clean");
    EXPECT_EQ(desc.memberCount, 4u);
    EXPECT_EQ(std::vector<uint32_t>(ids, ids + 4), (std::vector<uint32_t>{b, a, fine, a}));
    EXPECT_EQ(std::string(text), chains_.chainText(chain));
    EXPECT_EQ(desc.textSize, chains_.chainText(chain).size() + 1);

    // Buffers smaller than the chain, and none at all.
    std::memset(ids, 0, sizeof ids);
    _FilterChainDesc small{};
    small.memberIds = ids;
    small.memberCount = 2;
    small.text = text;
    small.textSize = 10;
    ASSERT_EQ(chains_.getChainInfo(chain, &small), 0);
    EXPECT_EQ(ids[1], a);
    EXPECT_EQ(ids[2], 0u) << "nothing beyond the capacity";
    EXPECT_EQ(small.memberCount, 4u);
    EXPECT_STREQ(text, "chainedit");
    _FilterChainDesc sizes{};
    ASSERT_EQ(chains_.getChainInfo(chain, &sizes), 0);
    EXPECT_EQ(sizes.memberCount, 4u);
    EXPECT_EQ(sizes.textSize, desc.textSize);

    // Removal by index.
    EXPECT_EQ(chains_.removeFromChain(chain, 4), TVK_ERR_PARAM);
    EXPECT_EQ(chains_.removeFromChain(chain, -1), TVK_ERR_PARAM);
    ASSERT_EQ(chains_.removeFromChain(chain, 1), 0);
    EXPECT_EQ(chains_.chainText(chain), "chainedit:B:Default instance|chainedit:B:fine|chainedit:A|");
}

TEST_F(Filters, ChainCodesAndMessages)
{
    const uint32_t a = addPlainFilter("chainedit", "A");
    const uint32_t notAFilter = addPlainFilter("chainedit", "Sum", 0);
    const uint32_t chain = createChain("chainedit", "Clean");
    core_.messages();
    uint32_t id = 0;
    struct Case {
        int result;
        int expected;
        const char* message;
    } cases[] = {
        {chains_.createChain("ChainEdit", "Clean", &id), MGR_ERR_CHAIN_EXISTS,
         "Filter chain with name Clean is already registered by plugin ChainEdit."},
        {chains_.createChain("ghost", "Clean", &id), MGR_ERR_NO_PLUGIN, "Plugin ghost is not registered."},
        {chains_.addToChain(chain, 999, -1), MGR_ERR_NO_FUNC, "Function with ID = 999 is not registered."},
        {chains_.addToChain(chain, FILTER_INSTANCE_ID_FIRST + 9, -1), MGR_ERR_NO_FUNC,
         "Function with ID = 100000009 is not registered."},
        {chains_.addToChain(77, a, -1), MGR_ERR_NO_CHAIN, "Filter chain with id 77 is not registered."},
        {chains_.removeFromChain(77, 0), MGR_ERR_NO_CHAIN, "Filter chain with id 77 is not registered."},
        {chains_.getChainInfo(77, nullptr), MGR_ERR_NO_CHAIN, "Filter chain with id 77 is not registered."},
        {chains_.removeChain(77), MGR_ERR_NO_CHAIN, "Filter chain with id 77 is not registered."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.message;
    }
    Strings expectedMessages;
    for (const Case& c : cases)
        expectedMessages.push_back(c.message);
    EXPECT_EQ(core_.messages(), expectedMessages);

    EXPECT_EQ(chains_.addToChain(chain, notAFilter, -1), TVK_ERR_PARAM) << "a function that is no filter";
    core_.messages();
    // Names that [Filter chains] cannot hold as a "{owner:name}" header are refused with the reason; the
    // header of each would read back as another chain or none.
    const struct {
        const char* name;
        const char* reason;
    } unsafe[] = {
        {"two\nlines", "it holds a line break or another control character"},
        {"cr\rhere", "it holds a line break or another control character"},
        {"[Plugins]", "it holds '[', ']', '{' or '}'"},
        {"a}b", "it holds '[', ']', '{' or '}'"},
        {"p:q", "it holds ':' or '|'"},
        {"a|b", "it holds ':' or '|'"},
        {"", "it is empty"},
        {" padded", "it begins or ends with a blank"},
    };
    for (const auto& u : unsafe) {
        EXPECT_EQ(chains_.createChain("chainedit", u.name, &id), TVK_ERR_PARAM) << u.name;
        EXPECT_EQ(core_.messages(),
                  Strings{std::string("Filter chain name of plugin chainedit is refused: ") + u.reason + "."})
            << u.name;
    }

    // Chains walk in id order; removing one keeps the others.
    const uint32_t second = createChain("clusterer", "Pre");
    ASSERT_EQ(chains_.removeChain(chain), 0);
    _FilterChainDesc desc{};
    ASSERT_EQ(chains_.getFirstChain(&id, &desc), 0);
    EXPECT_EQ(id, second);
    EXPECT_STREQ(desc.plugin, "clusterer");
    EXPECT_EQ(chains_.getNextChain(&id, &desc), 1);
    EXPECT_TRUE(core_.plugins.findPlugin("chainedit")->filterChains().empty());
}

TEST_F(Filters, ApplyingAChainRunsItsFiltersInOrder)
{
    FakeFilter fake(kThresholdParams);
    const uint32_t a = addPlainFilter("chainedit", "A");
    const uint32_t b = addInstanceFilter(fake, "chainedit", "B");
    const uint32_t fine = createInst(b, "fine");
    const uint32_t fails = addPlainFilter("chainedit", "fails");
    const uint32_t chain = createChain("chainedit", "Run");
    chains_.addToChain(chain, a, -1);
    chains_.addToChain(chain, fine, -1);
    chains_.addToChain(chain, b, -1);
    ASSERT_EQ(chains_.applyToFrame(chain, 10005), 0);
    ASSERT_EQ(g_runs.size(), 3u);
    const auto handle = [&](uint32_t id) {
        FuncMgr::InstanceRef ref;
        EXPECT_EQ(funcs_.resolveInstance(id, ref), 0);
        return ref.instance->handle();
    };
    EXPECT_EQ(g_runs[0].tag, "A");
    EXPECT_EQ(g_runs[0].instance, nullptr);
    EXPECT_EQ(g_runs[1].tag, "B");
    EXPECT_EQ(g_runs[1].instance, handle(fine));
    EXPECT_EQ(g_runs[2].instance, handle(b));
    for (const FilterRun& run : g_runs)
        EXPECT_EQ(run.frame, 10005u);

    g_runs.clear();
    chains_.addToChain(chain, fails, 1);
    EXPECT_EQ(chains_.applyToFrame(chain, 10006), MGR_ERR_FILTER_FAILED);
    EXPECT_EQ(g_runs.size(), 2u) << "the filters after the failing one do not run";
    EXPECT_EQ(chains_.applyToFrame(99, 10006), REG_ERR_NOT_FOUND);
}

TEST_F(Filters, RemovingAFilterTakesItOutOfEveryChain)
{
    FakeFilter fake(kThresholdParams);
    const uint32_t a = addPlainFilter("chainedit", "A");
    const uint32_t b = addInstanceFilter(fake, "chainedit", "B");
    const uint32_t fine = createInst(b, "fine");
    const uint32_t c1 = createChain("chainedit", "One");
    const uint32_t c2 = createChain("clusterer", "Two");
    for (uint32_t chain : {c1, c2}) {
        chains_.addToChain(chain, fine, -1);
        chains_.addToChain(chain, a, -1);
    }
    ASSERT_EQ(funcs_.removeFuncItem("chainedit", "B"), 0);
    EXPECT_EQ(chains_.chainText(c1), "chainedit:A|");
    EXPECT_EQ(chains_.chainText(c2), "chainedit:A|");
    EXPECT_EQ(funcs_.filterOfInstance(fine), nullptr) << "its instance ids are forgotten";
}

// ---- the ini sections ----

// Sets every parameter of an instance (id: function id for the default one).
void setAll(FuncMgr& funcs, uint32_t id, int32_t thr, int32_t thrHigh, std::array<double, 2> gain, const char* label,
            int32_t enabled, const std::string& note)
{
    char labelBuf[16] = {};
    std::memcpy(labelBuf, label, std::min(std::strlen(label), sizeof labelBuf));
    std::vector<char> noteBuf(2000, 0);
    std::memcpy(noteBuf.data(), note.data(), std::min(note.size(), noteBuf.size()));
    ASSERT_EQ(funcs.setFilterPar(id, 0, &thr, 4), 0);
    ASSERT_EQ(funcs.setFilterPar(id, 1, &thrHigh, 4), 0);
    ASSERT_EQ(funcs.setFilterPar(id, 2, gain.data(), 16), 0);
    ASSERT_EQ(funcs.setFilterPar(id, 3, labelBuf, 16), 0);
    ASSERT_EQ(funcs.setFilterPar(id, 4, &enabled, 4), 0);
    ASSERT_EQ(funcs.setFilterPar(id, 5, noteBuf.data(), 2000), 0);
}

std::string longNote()
{
    std::string note;
    for (int i = 0; i < 60; ++i)
        note += "0123456789";
    return note; // 600 characters
}

// The plug-ins of a run of the suite: chainedit with Threshold (instances) and Median, clusterer with
// its chain.
class FilterSections : public Filters {
protected:
    FilterSections() : threshold_(kThresholdParams) {}

    void registerFilters()
    {
        thresholdId_ = addInstanceFilter(threshold_, "chainedit", "Threshold");
        medianId_ = addPlainFilter("chainedit", "Median");
    }

    void buildState()
    {
        registerFilters();
        setAll(funcs_, thresholdId_, 3, 250, {1.5, 0.1}, "raw", 1, longNote());
        const uint32_t fine = createInst(thresholdId_, "fine");
        setAll(funcs_, fine, 7, -2, {-0.25, 1e-300}, "fine: tuned", 0, "");
        createInst(thresholdId_, "coarse"); // keeps the default's values
        const uint32_t clean = createChain("chainedit", "Clean");
        chains_.addToChain(clean, medianId_, -1);
        chains_.addToChain(clean, fine, -1);
        const uint32_t pre = createChain("clusterer", "Pre");
        chains_.addToChain(pre, thresholdId_, -1);
    }

    // Both sections written into a fresh ini file, as at exit.
    std::string savedIni()
    {
        const std::string ini = core_.dir + "/tvkmanager.ini";
        std::remove(ini.c_str());
        EXPECT_EQ(saveFilterSections(core_.plugins, ini), 0);
        return mgrtest::readFile(ini);
    }

    FakeFilter threshold_;
    uint32_t thresholdId_ = 0;
    uint32_t medianId_ = 0;
};

TEST_F(FilterSections, TheWrittenSectionsMatchTheGoldenFile)
{
    buildState();
    EXPECT_EQ(savedIni(), mgrtest::readFile("data/filters.ini"));
}

// Written at exit and restored at start, instances, parameters and chains are identical, also for
// parameters whose names share a prefix and for values longer than 511 characters.
TEST_F(FilterSections, WrittenAndRestoredStateIsIdentical)
{
    buildState();
    const std::string ini = core_.dir + "/restart.ini";
    ASSERT_EQ(saveFilterSections(core_.plugins, ini), 0);
    const std::string first = mgrtest::readFile(ini);

    ManagerCore next("filters-restart");
    next.addPlugin("chainedit");
    next.addPlugin("clusterer");
    FakeFilter fresh(kThresholdParams);
    fresh.callbacks.runUserData = const_cast<char*>("Threshold");
    _FuncItem item =
        funcItem("chainedit", "Threshold", runFilter, &fresh.callbacks, FUNC_FILTER | FUNC_FILTER_INSTANCES);
    ASSERT_EQ(next.plugins.funcs().addFuncItem(&item), 0);
    _FuncItem median = funcItem("chainedit", "Median", runFilter, const_cast<char*>("Median"), FUNC_FILTER);
    ASSERT_EQ(next.plugins.funcs().addFuncItem(&median), 0);
    restoreFilterSections(next.plugins, ini);
    EXPECT_EQ(next.messages(), Strings{}) << "nothing was refused";

    FuncMgr& funcs = next.plugins.funcs();
    const uint32_t t = static_cast<uint32_t>(item.id);
    EXPECT_EQ(parValue<int32_t>(funcs, t, 0), 3);
    EXPECT_EQ(parValue<int32_t>(funcs, t, 1), 250) << "\"Thr high\" is not read from the line of \"Thr\"";
    EXPECT_EQ(textValue(funcs, t, 5, 2000), longNote()) << "never cut";
    const uint32_t fine = FILTER_INSTANCE_ID_FIRST;
    EXPECT_EQ(parValue<int32_t>(funcs, fine, 0), 7);
    EXPECT_EQ(parValue<int32_t>(funcs, fine, 1), -2);
    EXPECT_EQ((parValue<std::array<double, 2>>(funcs, fine, 2)), (std::array<double, 2>{-0.25, 1e-300}));
    EXPECT_EQ(textValue(funcs, fine, 3, 16), "fine: tuned");
    EXPECT_EQ(textValue(funcs, FILTER_INSTANCE_ID_FIRST + 1, 3, 16), "raw");

    const std::string second = core_.dir + "/second.ini";
    ASSERT_EQ(saveFilterSections(next.plugins, second), 0);
    EXPECT_EQ(mgrtest::readFile(second), first);
}

// Function names may hold ':' themselves: their instances, parameters and chain members come back.
TEST_F(FilterSections, FunctionNamesWithColonsAreRestored)
{
    const std::vector<Param> params = {{"Thr", TYPE_I32, 1}};
    FakeFilter tuned(params);
    const uint32_t t = addInstanceFilter(tuned, "chainedit", "Thr: tuned");
    const uint32_t soft = addPlainFilter("chainedit", "Denoise: soft");
    const int32_t six = 6, eight = 8;
    ASSERT_EQ(funcs_.setFilterPar(t, 0, &six, 4), 0);
    const uint32_t fine = createInst(t, "fine:er");
    ASSERT_EQ(funcs_.setFilterPar(fine, 0, &eight, 4), 0);
    const uint32_t chain = createChain("chainedit", "Colons");
    chains_.addToChain(chain, soft, -1);
    chains_.addToChain(chain, fine, -1);
    chains_.addToChain(chain, t, -1);
    const Strings instanceLines = filterInstancesLines(core_.plugins);
    const Strings chainLines = filterChainsLines(core_.plugins);
    ASSERT_EQ(chainLines, (Strings{"{chainedit:Colons}", "chainedit:Denoise: soft", "chainedit:Thr: tuned:fine:er",
                                   "chainedit:Thr: tuned:Default instance"}));

    ManagerCore next("filters-colons");
    next.addPlugin("chainedit");
    FakeFilter fresh(params);
    fresh.callbacks.runUserData = const_cast<char*>("Thr: tuned");
    _FuncItem item =
        funcItem("chainedit", "Thr: tuned", runFilter, &fresh.callbacks, FUNC_FILTER | FUNC_FILTER_INSTANCES);
    ASSERT_EQ(next.plugins.funcs().addFuncItem(&item), 0);
    _FuncItem plain = funcItem("chainedit", "Denoise: soft", runFilter, const_cast<char*>("soft"), FUNC_FILTER);
    ASSERT_EQ(next.plugins.funcs().addFuncItem(&plain), 0);
    restoreFilterInstances(next.plugins, instanceLines);
    restoreFilterChains(next.plugins, chainLines);

    FuncMgr& funcs = next.plugins.funcs();
    EXPECT_EQ(parValue<int32_t>(funcs, static_cast<uint32_t>(item.id), 0), 6);
    EXPECT_EQ(parValue<int32_t>(funcs, FILTER_INSTANCE_ID_FIRST, 0), 8);
    EXPECT_EQ(filterInstancesLines(next.plugins), instanceLines);
    EXPECT_EQ(filterChainsLines(next.plugins), chainLines);
}

TEST_F(FilterSections, BadParameterLinesAreRefusedAndTheValueIsKept)
{
    registerFilters();
    setAll(funcs_, thresholdId_, 3, 250, {1.5, 0.1}, "raw", 1, "note");
    struct Case {
        const char* line;
        const char* message; // empty: ignored without a log entry
    } cases[] = {
        {"Thr:abc",
         "Filter instance chainedit:Threshold:x: the value \"abc\" of parameter Thr cannot be read as 1 x i32; "
         "its line is ignored."},
        {"Thr high:99999999999",
         "Filter instance chainedit:Threshold:x: the value \"99999999999\" of parameter Thr high "
         "cannot be read as 1 x i32; its line is ignored."},
        {"Gain:1.5", "Filter instance chainedit:Threshold:x: the value \"1.5\" of parameter Gain cannot be read as 2 x "
                     "double; its line is ignored."},
        {"Label:seventeen chars!!",
         "Filter instance chainedit:Threshold:x: the value of parameter Label is longer than "
         "its 16 bytes; its line is ignored."},
        {"Enabled:maybe",
         "Filter instance chainedit:Threshold:x: the value \"maybe\" of parameter Enabled cannot be read "
         "as 1 x bool; its line is ignored."},
        {"Unknown:5", ""},
        {"Thr", ""},
    };
    for (const Case& c : cases) {
        const std::string header = "{chainedit:Threshold:x}";
        std::vector<std::string> lines = {header, c.line};
        const uint32_t before = funcs_.nextInstanceId();
        core_.messages();
        restoreFilterInstances(core_.plugins, lines);
        EXPECT_EQ(core_.messages(), *c.message ? Strings{c.message} : Strings{}) << c.line;
        // The new instance keeps what it copied from the default one.
        EXPECT_EQ(parValue<int32_t>(funcs_, before, 0), 3) << c.line;
        EXPECT_EQ(parValue<int32_t>(funcs_, before, 1), 250) << c.line;
        EXPECT_EQ(textValue(funcs_, before, 3, 16), "raw") << c.line;
        EXPECT_EQ(funcs_.deleteFilterInst(before), 42);
    }
}

TEST_F(FilterSections, AParameterTypeBeyondTheTableIsWrittenEmptyAndRefusedOnRestore)
{
    FakeFilter odd({{"Odd", 12, 1}, {"Thr", TYPE_I32, 1}});
    const uint32_t f = addInstanceFilter(odd, "chainedit", "Odd");
    const int32_t four = 4;
    funcs_.setFilterPar(f, 1, &four, 4);
    const Strings lines = filterInstancesLines(core_.plugins);
    EXPECT_EQ(lines, (Strings{"{chainedit:Odd:Default instance}", "Odd:", "Thr:4 "}));
    core_.messages();
    restoreFilterInstances(core_.plugins, {"{chainedit:Odd:y}", "Odd:", "Thr:4 "});
    EXPECT_EQ(core_.messages(),
              Strings{"Filter instance chainedit:Odd:y: parameter Odd has the unknown type 12; its line is ignored."});
    EXPECT_EQ(parValue<int32_t>(funcs_, FILTER_INSTANCE_ID_FIRST, 1), 4);
}

// A value with a line break would break the file: it is not written, and says so.
TEST_F(FilterSections, AValueWithALineBreakIsNotWritten)
{
    registerFilters();
    setAll(funcs_, thresholdId_, 3, 250, {1.5, 0.1}, "two\nlines", 1, "ok");
    core_.messages();
    const Strings lines = filterInstancesLines(core_.plugins);
    EXPECT_EQ(core_.messages(), Strings{"Filter instance chainedit:Threshold:Default instance: parameter Label is not "
                                        "stored: its line would hold a line break or begin with '{' or '['."});
    EXPECT_EQ(lines, (Strings{"{chainedit:Threshold:Default instance}", "Thr:3 ", "Thr high:250 ", "Gain:1.5 0.1 ",
                              "Enabled:TRUE ", "Note:ok"}));
}

TEST_F(FilterSections, SectionsOfPluginsThatAreGoneAreDropped)
{
    registerFilters();
    restoreFilterInstances(core_.plugins, {"stray line", "{ghost:Blur:Default instance}", "Radius:3 ",
                                           "{chainedit:Threshold:Default instance}", "Thr:9 "});
    EXPECT_EQ(parValue<int32_t>(funcs_, thresholdId_, 0), 9);
    core_.messages();
    restoreFilterChains(core_.plugins,
                        {"{ghost:Old}", "ghost:Blur", "{chainedit:Kept}", "ghost:Blur", "chainedit:Median",
                         "chainedit:Threshold:missing", "no colon", "chainedit:Threshold:Default instance"});
    EXPECT_EQ(core_.messages(), Strings{"Plugin ghost is not registered."});
    const Strings chains = filterChainsLines(core_.plugins);
    EXPECT_EQ(chains, (Strings{"{chainedit:Kept}", "chainedit:Median", "chainedit:Threshold:Default instance"}));
}

// A start without chainedit, which stays listed: its blocks and the chain members of its filters cannot be
// restored, and are written back unchanged; once it loads again, everything comes back identical.
TEST_F(FilterSections, LinesOfAListedPluginThatDidNotLoadComeBackWithIt)
{
    buildState();
    const std::string first = core_.dir + "/first.ini";
    ASSERT_EQ(saveFilterSections(core_.plugins, first), 0);
    const Strings instanceLines = filterInstancesLines(core_.plugins);

    // Without chainedit: clusterer's chain is restored without its member, and nothing is refused.
    const std::string second = core_.dir + "/second.ini";
    {
        ManagerCore missing("filters-missing");
        missing.addPlugin("clusterer");
        HeldFilterLines held;
        held.listedPlugins = {"chainedit", "clusterer"};
        missing.messages();
        restoreFilterSections(missing.plugins, first, &held);
        EXPECT_EQ(missing.messages(), Strings{"Plugin chainedit is not registered."});
        uint32_t chain = 0;
        ASSERT_EQ(missing.plugins.chains().getFirstChain(&chain, nullptr), 0);
        EXPECT_EQ(missing.plugins.chains().chainText(chain), "");
        EXPECT_EQ(filterInstancesLines(missing.plugins), Strings{});
        EXPECT_EQ(filterChainsLines(missing.plugins), Strings{"{clusterer:Pre}"});

        // At exit the unrestored lines follow the restored ones, as they were read.
        EXPECT_EQ(filterInstancesLines(missing.plugins, &held), instanceLines);
        EXPECT_EQ(filterChainsLines(missing.plugins, &held),
                  (Strings{"{clusterer:Pre}", "chainedit:Threshold:Default instance", "{chainedit:Clean}",
                           "chainedit:Median", "chainedit:Threshold:fine"}));
        ASSERT_EQ(saveFilterSections(missing.plugins, second, &held), 0);
    }

    // chainedit is back: instances, parameters and chains as they were before.
    ManagerCore back("filters-back");
    back.addPlugin("chainedit");
    back.addPlugin("clusterer");
    FakeFilter fresh(kThresholdParams);
    fresh.callbacks.runUserData = const_cast<char*>("Threshold");
    _FuncItem item =
        funcItem("chainedit", "Threshold", runFilter, &fresh.callbacks, FUNC_FILTER | FUNC_FILTER_INSTANCES);
    ASSERT_EQ(back.plugins.funcs().addFuncItem(&item), 0);
    _FuncItem median = funcItem("chainedit", "Median", runFilter, const_cast<char*>("Median"), FUNC_FILTER);
    ASSERT_EQ(back.plugins.funcs().addFuncItem(&median), 0);
    HeldFilterLines held;
    held.listedPlugins = {"chainedit", "clusterer"};
    restoreFilterSections(back.plugins, second, &held);
    EXPECT_EQ(back.messages(), Strings{});
    EXPECT_EQ(filterInstancesLines(back.plugins, &held), instanceLines);
    EXPECT_EQ(textValue(back.plugins.funcs(), static_cast<uint32_t>(item.id), 5, 2000), longNote());
    EXPECT_EQ(textValue(back.plugins.funcs(), FILTER_INSTANCE_ID_FIRST, 3, 16), "fine: tuned");
    EXPECT_EQ(filterChainsLines(back.plugins, &held),
              (Strings{"{clusterer:Pre}", "chainedit:Threshold:Default instance", "{chainedit:Clean}",
                       "chainedit:Median", "chainedit:Threshold:fine"}));
    EXPECT_EQ(held.instanceLines, Strings{});
    EXPECT_EQ(held.chainLines, Strings{});
    EXPECT_TRUE(held.partialChains.empty());
}

// Which unrestored lines are kept: those of a function that is not registered, of a plug-in that is loaded
// or listed. A plug-in the user removed from the list, refused values and malformed lines are dropped as
// before, with their log entries.
TEST_F(FilterSections, OnlyLinesOfPluginsOrFunctionsThatAreNotThereAreKept)
{
    registerFilters();
    const Strings instances = {
        "stray line",
        "{gone:Blur:Default instance}", "Radius:3 ",         // removed from the list: dropped
        "{away:Blur:Default instance}", "Radius:4 ", "x:y", // listed, not loaded: kept whole
        "{chainedit:Sharpen:soft}", "Amount:2 ",            // loaded, function not registered: kept
        "{chainedit:Median:x}", "Thr:1 ",                   // a function without instances: dropped
        "{chainedit:Threshold:Default instance}", "Thr:abc", // refused value: dropped with its entry
        "{away}",                                           // no header: dropped
    };
    const Strings chains = {
        "{gone:Old}", "gone:Blur",
        "{away:Pre}", "away:Blur", "chainedit:Median",
        "{chainedit:Mixed}", "away:Blur:Default instance", "chainedit:Median", "gone:Blur", "no colon",
        "chainedit:Threshold:missing", "chainedit:Sharpen", "chainedit:Threshold:Default instance",
        "{chainedit:Whole}", "chainedit:Median",
    };
    HeldFilterLines held;
    held.listedPlugins = {"away", "chainedit"};
    core_.messages();
    restoreFilterInstances(core_.plugins, instances, &held);
    restoreFilterChains(core_.plugins, chains, &held);
    EXPECT_EQ(core_.messages(),
              (Strings{"Filter instance chainedit:Threshold:Default instance: the value \"abc\" of parameter Thr "
                       "cannot be read as 1 x i32; its line is ignored.",
                       "Plugin gone is not registered.", "Plugin away is not registered."}));
    EXPECT_EQ(held.instanceLines, (Strings{"{away:Blur:Default instance}", "Radius:4 ", "x:y",
                                           "{chainedit:Sharpen:soft}", "Amount:2 "}));
    EXPECT_EQ(held.chainLines, (Strings{"{away:Pre}", "away:Blur", "chainedit:Median"}));

    // Restored without its missing members; written back with them, in their order.
    EXPECT_EQ(filterChainsLines(core_.plugins),
              (Strings{"{chainedit:Mixed}", "chainedit:Median", "chainedit:Threshold:Default instance",
                       "{chainedit:Whole}", "chainedit:Median"}));
    const Strings mixedAsRead = {"{chainedit:Mixed}",  "away:Blur:Default instance", "chainedit:Median",
                                 "chainedit:Sharpen", "chainedit:Threshold:Default instance"};
    Strings expected = mixedAsRead;
    expected.insert(expected.end(), {"{chainedit:Whole}", "chainedit:Median", "{away:Pre}", "away:Blur",
                                     "chainedit:Median"});
    EXPECT_EQ(filterChainsLines(core_.plugins, &held), expected);
    Strings instancesAtExit = filterInstancesLines(core_.plugins);
    instancesAtExit.insert(instancesAtExit.end(), held.instanceLines.begin(), held.instanceLines.end());
    EXPECT_EQ(filterInstancesLines(core_.plugins, &held), instancesAtExit);

    // A chain changed since the start is written as it now is: the edit was made to what the user saw.
    uint32_t mixed = 0;
    ASSERT_EQ(chains_.getFirstChain(&mixed, nullptr), 0);
    ASSERT_EQ(chains_.removeFromChain(mixed, 0), 0);
    EXPECT_EQ(filterChainsLines(core_.plugins, &held),
              (Strings{"{chainedit:Mixed}", "chainedit:Threshold:Default instance", "{chainedit:Whole}",
                       "chainedit:Median", "{away:Pre}", "away:Blur", "chainedit:Median"}));
}

// What comes into existence after the start (a plug-in added at run time) is written from its live state,
// never twice.
TEST_F(FilterSections, KeptLinesGiveWayToWhatIsRegisteredByExit)
{
    registerFilters();
    HeldFilterLines held;
    held.listedPlugins = {"away"};
    restoreFilterInstances(core_.plugins, {"{away:Blur:Default instance}", "Radius:4 "}, &held);
    restoreFilterChains(core_.plugins, {"{away:Pre}", "away:Blur"}, &held);
    ASSERT_EQ(held.instanceLines.size(), 2u);
    ASSERT_EQ(held.chainLines.size(), 2u);

    core_.addPlugin("away");
    FakeFilter blur({{"Radius", TYPE_I32, 1}});
    addInstanceFilter(blur, "away", "Blur");
    createChain("away", "Pre");
    EXPECT_EQ(filterInstancesLines(core_.plugins, &held),
              filterInstancesLines(core_.plugins)); // "Radius:0 " from the live default instance
    EXPECT_EQ(filterChainsLines(core_.plugins, &held), filterChainsLines(core_.plugins));
}

TEST_F(FilterSections, AnUnreadableIniRestoresNothing)
{
    registerFilters();
    const std::string folder = core_.dir + "/folder.ini";
    std::filesystem::create_directory(folder);
    core_.messages();
    restoreFilterSections(core_.plugins, folder);
    const Strings messages = core_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Section [Filter instances] was not read: ", 0), 0u) << messages[0];
    EXPECT_EQ(saveFilterSections(core_.plugins, folder), TVK_ERR_OPEN_READ);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

} // namespace
