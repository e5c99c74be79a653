#include "preview_client.h"

namespace probing {

namespace {

const char* const kNames[] = {"PrevWndCreateDevID", "PrevWndShow", "PrevWndShowTvkFrame", "PrevWndDestroy"};

} // namespace

int PreviewClient::call(Fn fn, const _FuncSlot* in, void* const* out)
{
    const Bound& b = funcs_[fn];
    return b.callback ? b.callback(b.userData, in, out) : -1;
}

bool PreviewClient::open(const _MgrFuncTable* table, unsigned dev)
{
    close();
    t_ = table;
    dev_ = dev;
    for (int i = 0; i < kFnCount; ++i) {
        funcs_[i] = Bound{};
        _FuncItem item{};
        if (table && table->mgrGetFuncItem && table->mgrGetFuncItem("tvkctrlui", kNames[i], &item) == 0)
            funcs_[i] = Bound{item.callback, item.userData};
    }
    // Not destroyed when the operator closes it: the id stays valid until close().
    const _FuncSlot in[3] = {tvkSlotUint(dev), tvkSlotInt(0), tvkSlotPtr(nullptr)};
    uint32_t id = 0;
    void* out[1] = {&id};
    if (!funcs_[ShowTvkFrame].callback || call(CreateDevID, in, out) != 0)
        return false;
    open_ = true;
    id_ = id;
    const _FuncSlot show[2] = {tvkSlotUint(id_), tvkSlotInt(1)};
    call(Show, show, nullptr);
    return true;
}

void PreviewClient::showFrame()
{
    uint32_t frame = 0;
    if (!open_ || !t_->tvkCtrlGetFrameID || t_->tvkCtrlGetFrameID(dev_, 0, &frame) != 0)
        return;
    const _FuncSlot in[2] = {tvkSlotUint(id_), tvkSlotUint(frame)};
    call(ShowTvkFrame, in, nullptr);
}

void PreviewClient::close()
{
    if (!open_)
        return;
    open_ = false;
    const _FuncSlot in[1] = {tvkSlotUint(id_)};
    call(Destroy, in, nullptr);
}

} // namespace probing
