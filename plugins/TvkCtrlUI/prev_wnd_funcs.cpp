#include "prev_wnd_funcs.h"

#include <climits>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <vector>

#include "pluginfw/plugin_table.h"
#include "tvk_types.h"
#include "uikit/picture_data.h"

void PrevWndService::setFactory(PreviewFactory factory, GuiDispatch dispatch)
{
    std::lock_guard l(factoryMutex_);
    factory_ = std::move(factory);
    dispatch_ = std::move(dispatch);
}

namespace {

bool sizeAcceptable(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= INT_MAX && height <= INT_MAX &&
           width * height < PictureData::kMaxPixels;
}

// One creation handed to the GUI thread. The caller gives up only while the job is still pending; once the
// GUI thread has started it, the caller waits for its end (the GUI thread is then busy with it).
struct CreateJob {
    enum Stage { Pending, Running, Done, Abandoned };
    std::mutex m; // guards stage and result
    std::condition_variable cv;
    Stage stage = Pending;
    int result = -1;
    PrevCreateRequest request;
};

} // namespace

int PrevWndService::create(const PrevCreateRequest& request)
{
    if (request.devIndex < 0 && !sizeAcceptable(request.width, request.height))
        return -1;
    PreviewFactory factory;
    GuiDispatch dispatch;
    {
        std::lock_guard l(factoryMutex_);
        factory = factory_;
        dispatch = dispatch_;
    }
    if (!factory || !dispatch.onGuiThread || !dispatch.post)
        return -1;
    if (dispatch.onGuiThread())
        return factory(request);

    auto job = std::make_shared<CreateJob>();
    job->request = request;
    dispatch.post([job, factory] {
        {
            std::lock_guard l(job->m);
            if (job->stage != CreateJob::Pending)
                return;
            job->stage = CreateJob::Running;
        }
        const int id = factory(job->request);
        {
            std::lock_guard l(job->m);
            job->result = id;
            job->stage = CreateJob::Done;
        }
        job->cv.notify_all();
    });
    std::unique_lock l(job->m);
    const auto bound = std::chrono::milliseconds(createBoundMs_.load());
    if (!job->cv.wait_for(l, bound, [&] { return job->stage != CreateJob::Pending; })) {
        job->stage = CreateJob::Abandoned;
        return -1;
    }
    job->cv.wait(l, [&] { return job->stage == CreateJob::Done; });
    return job->result;
}

void PrevWndService::destroyAllPreviews()
{
    for (PreviewEntry& e : registry_.takeAll())
        e.host->destroy();
}

void PrevWndService::rebindDevicePreviews(int devIndex)
{
    for (PreviewEntry& e : registry_.all())
        if (e.state->devIndex() == devIndex)
            e.host->rebind();
}

void PrevWndService::autoUpdateDevicePreviews(int devIndex)
{
    for (PreviewEntry& e : registry_.all()) {
        if (e.state->devIndex() != devIndex || devIndex < 0 || e.state->reporting() || !e.state->apiAutoUpdate())
            continue;
        e.host->holdLatestFrame();
        if (e.state->requestRefresh())
            e.host->refresh();
    }
}

void PrevWndService::pixCfgChangedPreviews(int devIndex)
{
    for (PreviewEntry& e : registry_.all())
        if (e.state->devIndex() == devIndex && devIndex >= 0 && !e.state->reporting() && e.state->followsPixCfg())
            e.host->pixCfgChanged();
}

PrevWndService& prevWndService()
{
    static PrevWndService service;
    return service;
}

// ---- the registered functions ----

namespace {

bool boolOf(const _FuncSlot& s) { return s.i != 0; }
std::string textOf(const _FuncSlot& s) { return s.p ? static_cast<const char*>(s.p) : ""; }

std::optional<PreviewEntry> entryOf(const _FuncSlot* in)
{
    if (!in || in[0].u > UINT32_MAX)
        return std::nullopt;
    return prevWndService().registry().find(static_cast<uint32_t>(in[0].u));
}

int writeId(int id, void* const* out)
{
    if (id < 0)
        return -1;
    *static_cast<uint32_t*>(out[0]) = static_cast<uint32_t>(id);
    return 0;
}

} // namespace

extern "C" {

int PrevWndCreate(void*, const _FuncSlot* in, void* const* out)
{
    if (!in || !out || !out[0])
        return -1;
    PrevCreateRequest r;
    if (in[0].i <= 0 || in[0].i > INT_MAX || in[1].i <= 0 || in[1].i > INT_MAX)
        return -1;
    r.width = static_cast<int>(in[0].i);
    r.height = static_cast<int>(in[1].i);
    r.destroyOnClose = boolOf(in[2]);
    r.iniPath = textOf(in[3]);
    return writeId(prevWndService().create(r), out);
}

int PrevWndCreateDevID(void*, const _FuncSlot* in, void* const* out)
{
    if (!in || !out || !out[0] || in[0].i < 0 || in[0].i > INT_MAX)
        return -1;
    PrevCreateRequest r;
    r.devIndex = static_cast<int>(in[0].i);
    r.destroyOnClose = boolOf(in[1]);
    r.iniPath = textOf(in[2]);
    return writeId(prevWndService().create(r), out);
}

int PrevWndDestroy(void*, const _FuncSlot* in, void* const*)
{
    if (!in || in[0].u > UINT32_MAX)
        return -1;
    auto e = prevWndService().registry().take(static_cast<uint32_t>(in[0].u));
    if (!e)
        return -1;
    e->host->destroy();
    return 0;
}

int PrevWndAutoUpdate(void*, const _FuncSlot* in, void* const*)
{
    auto e = entryOf(in);
    if (!e)
        return -1;
    e->state->setApiAutoUpdate(boolOf(in[1]));
    return 0;
}

int PrevWndShowTvkFrame(void*, const _FuncSlot* in, void* const*)
{
    auto e = entryOf(in);
    if (!e || in[1].u > UINT32_MAX)
        return -1;
    return e->host->showFrame(static_cast<uint32_t>(in[1].u));
}

int PrevWndIsVisible(void*, const _FuncSlot* in, void* const* out)
{
    auto e = entryOf(in);
    if (!e || !out || !out[0])
        return -1;
    *static_cast<int32_t*>(out[0]) = e->state->visible() ? 1 : 0;
    return 0;
}

int PrevWndSetCaption(void*, const _FuncSlot* in, void* const*)
{
    auto e = entryOf(in);
    if (!e)
        return -1;
    e->host->setCaption(textOf(in[1]));
    return 0;
}

int PrevWndShow(void*, const _FuncSlot* in, void* const*)
{
    auto e = entryOf(in);
    if (!e)
        return -1;
    const bool visible = boolOf(in[1]);
    e->state->setVisible(visible);
    e->host->show(visible);
    return 0;
}

int PrevWndSetErrorCb(void*, const _FuncSlot* in, void* const*)
{
    auto e = entryOf(in);
    if (!e)
        return -1;
    e->state->setErrorCb(reinterpret_cast<CallbackFuncType>(in[1].p));
    return 0;
}

int PrevWndSetCloseCb(void*, const _FuncSlot* in, void* const*)
{
    auto e = entryOf(in);
    if (!e)
        return -1;
    e->state->setCloseCb(reinterpret_cast<CallbackFuncType>(in[1].p));
    return 0;
}

int PrevWndGetLastErr(void*, const _FuncSlot* in, void* const* out)
{
    auto e = entryOf(in);
    if (!e || !out || !out[0])
        return -1;
    e->state->copyLastError(static_cast<char*>(out[0]), kPrevLastErrSize);
    return 0;
}

} // extern "C"

// ---- registration ----

namespace {

const FuncParamSpec kIdParam{TYPE_U32, 1, "ID of existing preview window"};
const FuncParamSpec kCreatedParam{TYPE_U32, 1, "ID of created preview window"};
const FuncParamSpec kDestroyParam{TYPE_BOOL, 1, "Destroy window on close (TRUE) or hide (FALSE)"};
const FuncParamSpec kIniParam{TYPE_STRING, 1, "Path to ini filename for initialization"};

const std::vector<FuncRecord>& records()
{
    static const std::vector<FuncRecord> table = {
        {PrevWndCreate, "PrevWndCreate", "Creates preview window of specified size",
         {{TYPE_U32, 1, "Width of image"}, {TYPE_U32, 1, "Height of image"}, kDestroyParam, kIniParam},
         {kCreatedParam}},
        {PrevWndCreateDevID, "PrevWndCreateDevID", "Creates preview window bound to specified tarvik device",
         {{TYPE_U32, 1, "Tvk device ID"}, kDestroyParam, kIniParam}, {kCreatedParam}},
        {PrevWndDestroy, "PrevWndDestroy", "Destroys preview window", {kIdParam}, {}},
        {PrevWndAutoUpdate, "PrevWndAutoUpdate", "Enable/disable auto update (for previews bound to device)",
         {kIdParam, {TYPE_BOOL, 1, "Auto update"}}, {}},
        {PrevWndShowTvkFrame, "PrevWndShowTvkFrame", "Displays frame in preview",
         {kIdParam, {TYPE_U32, 1, "ID of existing frame"}}, {}},
        {PrevWndIsVisible, "PrevWndIsVisible", "Checks if specified window is now visible", {kIdParam},
         {{TYPE_BOOL, 1, "TRUE if window is now visible"}}},
        {PrevWndSetCaption, "PrevWndSetCaption", "Sets window caption",
         {kIdParam, {TYPE_STRING, 1, "Caption of specified preview window"}}, {}},
        {PrevWndShow, "PrevWndShow", "Shows or hides specified preview window",
         {kIdParam, {TYPE_BOOL, 1, "Visibility"}}, {}},
        {PrevWndSetErrorCb, "PrevWndSetErrorCb",
         "Sets error callback (notify user that error occurred (param. is preview ID))",
         {kIdParam, {TYPE_U32, 1, "OnError callback (type CallbackFuncType)"}}, {}},
        {PrevWndSetCloseCb, "PrevWndSetCloseCb",
         "Sets close callback (notify user that window was closed by user (param. is preview ID)",
         {kIdParam, {TYPE_U32, 1, "OnClose callback (type CallbackFuncType)"}}, {}},
        {PrevWndGetLastErr, "PrevWndGetLastErr", "Retrieves last error that occurred in specified preview window",
         {kIdParam}, {{TYPE_CHAR, int32_t(kPrevLastErrSize), "Error message"}}},
    };
    return table;
}

} // namespace

void registerPrevWndFunctions(const _MgrFuncTable* mgr)
{
    if (mgr && mgr->mgrAddFuncItem)
        registerFuncRecords(mgr, "tvkctrlui", records());
}
